// Helpers shared by the writer's tests: the shared data folder, vectors,
// scratch folders, running programs and the independent reader.
#ifndef LITGEN_TEST_SUPPORT_H
#define LITGEN_TEST_SUPPORT_H

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>

#include <filesystem>
#include <string>
#include <vector>

#include "bytes.h"

namespace orvo::litgen::test {

// The published vectors (vectors/) and calibre's checker (oracle.py), kept
// in the repository beside the tests.
std::filesystem::path LitDir();
QJsonObject LoadJson(const std::filesystem::path& file);
Bytes FromHex(const std::string& hex);
Bytes ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& text);
void WriteFile(const std::filesystem::path& file, const Bytes& data);
std::string Sha1Hex(const Bytes& data);

// A fresh folder removed at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};
// Runs a shell command with a time limit (seconds).
RunResult Run(const std::string& command, int timeoutSeconds = 300);
std::string Quote(const std::string& s);

// calibre's tools, or empty when they are not installed.
bool CalibreAvailable();

}  // namespace orvo::litgen::test

#endif

namespace orvo::litgen::test {

// A small OEB package on disk, shaped like the generator's volumes.
struct PackageFiles {
    std::filesystem::path opf;
    std::vector<std::filesystem::path> pictures;
};

struct PackageSpec {
    std::string title = "News 08.12.26 14:00 Vol.1";
    // href and full XML text of each content document, in spine order.
    std::vector<std::pair<std::string, std::string>> documents;
    std::string css = "body { margin: 0.5em }\n.title { font-weight: bold }\n";
    // href and bytes of each picture; the file is not written when missing.
    std::vector<std::pair<std::string, Bytes>> pictures;
    std::vector<std::string> missingPictures;
};

PackageFiles WritePackage(const std::filesystem::path& dir, const PackageSpec& spec);
std::string XhtmlDocument(const std::string& title, const std::string& body);
// Deterministic picture bytes (a PNG header and filler) that differ per seed.
Bytes PictureBytes(int seed, std::size_t size = 700);

}  // namespace orvo::litgen::test

namespace orvo::litgen::test {

// Reads a .lit file's directory (every chunk) without any checks; for
// looking streams up in tests.
struct LitEntry {
    std::string name;
    std::uint32_t section;
    std::uint64_t offset, length;
};
std::vector<LitEntry> ReadDirectory(const Bytes& file, std::uint64_t& contentOffset);
// A section-0 stream's bytes, or empty when there is no such entry.
Bytes Stream0(const Bytes& file, const std::string& name);

}  // namespace orvo::litgen::test
