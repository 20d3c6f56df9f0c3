#include "test_support.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace orvo::litgen::test {

std::filesystem::path LitDir() { return LITGEN_TEST_DATA; }

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

namespace orvo::litgen::test {

std::string XhtmlDocument(const std::string& title, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0.1 Document//EN\" "
           "\"http://openebook.org/dtds/oeb-1.0.1/oebdoc101.dtd\">\n"
           "<html>\n<head><title>" + title +
           "</title><link href=\"eBook.css\" rel=\"StyleSheet\" type=\"text/x-oeb-css\"/></head>\n<body>\n" + body +
           "\n</body>\n</html>\n";
}

Bytes PictureBytes(int seed, std::size_t size) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::mt19937 gen(static_cast<unsigned>(seed));
    while (b.size() < size) b.push_back(static_cast<std::uint8_t>(gen()));
    return b;
}

PackageFiles WritePackage(const std::filesystem::path& dir, const PackageSpec& spec) {
    PackageFiles files;
    std::filesystem::create_directories(dir);
    std::string manifest, spine;
    int n = 0;
    for (const auto& [href, xml] : spec.documents) {
        std::string id = n == 0 ? "toc" : "content" + std::to_string(n);
        ++n;
        WriteFile(dir / href, xml);
        manifest += "    <item id=\"" + id + "\" href=\"" + href + "\" media-type=\"text/x-oeb1-document\"/>\n";
        spine += "    <itemref idref=\"" + id + "\"/>\n";
    }
    WriteFile(dir / "eBook.css", spec.css);
    manifest += "    <item id=\"css\" href=\"eBook.css\" media-type=\"text/x-oeb1-css\"/>\n";
    int p = 0;
    for (const auto& [href, bytes] : spec.pictures) {
        ++p;
        std::filesystem::path file = dir / href;
        std::filesystem::create_directories(file.parent_path());
        bool missing = std::find(spec.missingPictures.begin(), spec.missingPictures.end(), href) !=
                       spec.missingPictures.end();
        if (!missing) WriteFile(file, bytes);
        files.pictures.push_back(file);
        std::string type = href.size() > 4 && href.substr(href.size() - 4) == ".png" ? "image/png" : "image/jpeg";
        manifest += "    <item id=\"Pic_" + std::to_string(p) + "\" href=\"" + href + "\" media-type=\"" + type + "\"/>\n";
    }
    std::string opf =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<package unique-identifier=\"notisbn\">\n  <metadata>\n"
        "    <dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\" "
        "xmlns:oebpackage=\"http://openebook.org/namespaces/oeb-package/1.0/\">\n"
        "      <dc:Title>" + spec.title + "</dc:Title>\n"
        "      <dc:Creator>Vantelia Inc.</dc:Creator>\n"
        "      <dc:Identifier id=\"notisbn\">http://www.example.org/</dc:Identifier>\n"
        "    </dc-metadata>\n  </metadata>\n  <manifest>\n" + manifest +
        "  </manifest>\n  <spine>\n" + spine + "  </spine>\n</package>\n";
    files.opf = dir / "Newsdesk.opf";
    WriteFile(files.opf, opf);
    return files;
}

}  // namespace orvo::litgen::test

namespace orvo::litgen::test {
namespace {
std::uint64_t Le(const Bytes& b, std::size_t at, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}
std::uint64_t Enc(const Bytes& b, std::size_t& at) {
    std::uint64_t v = 0;
    for (;;) {
        std::uint8_t x = b[at++];
        v = (v << 7) | (x & 0x7F);
        if (!(x & 0x80)) return v;
    }
}
}  // namespace

std::vector<LitEntry> ReadDirectory(const Bytes& f, std::uint64_t& contentOffset) {
    std::vector<LitEntry> out;
    std::uint64_t dirAt = Le(f, 56, 8);
    contentOffset = Le(f, 120 + 200 + 16, 8);
    std::uint64_t chunks = Le(f, dirAt + 24, 8);
    for (std::uint64_t c = 0; c < chunks; ++c) {
        std::size_t at = dirAt + 32 + c * 8192;
        if (std::string(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at) + 4) != "AOLL") continue;
        std::size_t pos = at + 48;
        for (std::uint64_t k = Le(f, at + 8190, 2); k > 0; --k) {
            LitEntry e;
            std::uint64_t n = Enc(f, pos);
            e.name.assign(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + n));
            pos += n;
            e.section = static_cast<std::uint32_t>(Enc(f, pos));
            e.offset = Enc(f, pos);
            e.length = Enc(f, pos);
            out.push_back(e);
        }
    }
    return out;
}

Bytes Stream0(const Bytes& file, const std::string& name) {
    std::uint64_t content = 0;
    for (const LitEntry& e : ReadDirectory(file, content))
        if (e.name == name && e.section == 0) {
            auto at = file.begin() + static_cast<long>(content + e.offset);
            return Bytes(at, at + static_cast<long>(e.length));
        }
    return {};
}

}  // namespace orvo::litgen::test
