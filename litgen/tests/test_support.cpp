#include "test_support.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace orvo::litgen::test {

std::filesystem::path SharedDir() {
    if (const char* env = std::getenv("ORVO_SHARED"); env && *env) return env;
    return ORVO_SHARED_DIR;
}

std::filesystem::path LitDir() { return SharedDir() / "lit"; }

QJsonObject LoadJson(const std::filesystem::path& file) {
    QFile f(QString::fromStdString(file.string()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

void WriteFile(const std::filesystem::path& file, const Bytes& data) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string Sha1Hex(const Bytes& data) {
    QByteArray d = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())),
        QCryptographicHash::Sha1);
    return d.toHex().toStdString();
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "litgen-test-XXXXXX").string();
    if (char* p = ::mkdtemp(tmpl.data())) path_ = p;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty() && !std::getenv("LITGEN_KEEP_TEMP")) std::filesystem::remove_all(path_, ec);
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

RunResult Run(const std::string& command, int timeoutSeconds) {
    RunResult r;
    std::string full = "timeout " + std::to_string(timeoutSeconds) + " sh -c " + Quote(command) + " 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool CalibreAvailable() {
    static const bool available = Run("command -v calibre-debug && command -v ebook-convert", 10).exitCode == 0;
    return available;
}

}  // namespace orvo::litgen::test
