// litgen_bench: time and size of a news volume written by liblitgen.so,
// next to calibre's ebook-convert on the same package.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "litgen/litgen.h"
#include "pack_driver.h"
#include "platform.h"

namespace fs = std::filesystem;
using namespace orvo::litgen;

namespace {

const char* const kUsage =
    "Usage: litgen_bench [--runs N] [--calibre-runs N] [--items N] [--pictures N] [--keep DIR]\n"
    "\n"
    "Builds a news package (default 50 items, about 400 KB of HTML, 30 pictures),\n"
    "writes it N times (default 10) with liblitgen.so, compressed and stored, and\n"
    "converts it with calibre's ebook-convert (default 10 runs, 0 to skip).\n"
    "Prints milliseconds per book and file sizes. --keep leaves the files in DIR.\n";

const char* const kWords[] = {
    "the", "government", "announced", "new", "measures", "on", "Tuesday", "to", "support", "local", "industry",
    "after", "months", "of", "debate", "in", "parliament", "where", "opposition", "leaders", "criticised", "plan",
    "as", "too", "little", "late", "for", "families", "facing", "rising", "prices", "energy", "and", "food",
    "analysts", "said", "that", "markets", "reacted", "calmly", "while", "shares", "in", "banks", "rose", "by",
    "two", "per", "cent", "city", "council", "will", "meet", "next", "week", "discuss", "transport", "budget",
    "weather", "forecast", "predicts", "rain", "across", "northern", "regions", "with", "strong", "winds",
    "football", "club", "won", "its", "third", "match", "in", "a", "row", "thanks", "goal", "late", "second",
    "half", "scientists", "published", "study", "showing", "that", "coral", "reefs", "recover", "faster", "than",
    "expected", "when", "water", "temperatures", "stay", "stable"};

std::string Sentence(std::mt19937& gen) {
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1), len(8, 22);
    std::string s;
    std::size_t n = len(gen);
    for (std::size_t i = 0; i < n; ++i) {
        std::string w = kWords[word(gen)];
        if (i == 0) w[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
        s += (i ? " " : "") + w;
    }
    return s + ". ";
}

void Write(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// A package shaped like the generator's: table of contents, one content
// document with every item, a stylesheet and the pictures.
fs::path MakePackage(const fs::path& dir, int items, int pictures, std::size_t& htmlBytes) {
    fs::create_directories(dir / "Images");
    std::mt19937 gen(7);
    std::string toc, content;
    const char* categories[] = {"World", "Business", "Sports", "Science", "Local"};
    std::string manifestPics;
    int pic = 0;
    for (int i = 0; i < items; ++i) {
        std::string cat = categories[i * 5 / items];
        if (i == 0 || cat != categories[(i - 1) * 5 / items]) {
            if (i) content += "</div>\n";
            toc += "<div><a href=\"Content.html#" + cat + "\">" + cat + "</a></div>\n";
            content += "<div><a name=\"" + cat + "\">" + cat + "</a>\n";
        }
        content += "<div><div class=\"header\">" + cat + "  08.12.2026 14:" + std::to_string(10 + i % 50) +
                   "</div>\n<div class=\"title\">" + Sentence(gen) + "</div>\n"
                   "<div class=\"source\"><a alt=\"http://news.example.org/item/" + std::to_string(i) +
                   "\" href=\"http://news.example.org/item/" + std::to_string(i) + "\">http://news.example.org/item/" +
                   std::to_string(i) + "</a></div>\n<div class=\"news_text\">";
        for (int k = 0; k < 74; ++k) content += Sentence(gen) + (k % 9 == 8 ? "<br />" : "");
        content += "</div>\n";
        if (pic < pictures && i % 5 != 4) {
            ++pic;
            std::string href = "Images/" + std::to_string(pic) + ".jpg";
            content += "<div><img id=\"Pic_" + std::to_string(pic) + "\" src=\"" + href +
                       "\" align=\"bottom\">Picture " + std::to_string(pic) + "</img></div>\n"
                       "<div class=\"news_text\">" + Sentence(gen) + "</div>\n";
            manifestPics += "<item id=\"Pic_" + std::to_string(pic) + "\" href=\"" + href +
                            "\" media-type=\"image/jpeg\"/>\n";
            // Picture bytes: JPEG markers around incompressible data, 12-30 KB.
            std::string jpeg = "\xFF\xD8\xFF\xE0";
            std::uniform_int_distribution<int> size(12000, 30000), byte(0, 255);
            for (int b = size(gen); b > 0; --b) jpeg.push_back(static_cast<char>(byte(gen)));
            jpeg += "\xFF\xD9";
            Write(dir / href, jpeg);
        }
        content += "</div>\n";
    }
    content += "</div>\n";
    auto doc = [](const std::string& title, const std::string& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html>\n<head><title>" + title +
               "</title><link href=\"eBook.css\" rel=\"StyleSheet\" type=\"text/x-oeb-css\"/></head>\n<body>\n" +
               body + "</body>\n</html>\n";
    };
    std::string tocDoc = doc("Contents", toc), contentDoc = doc("News", content);
    htmlBytes = tocDoc.size() + contentDoc.size();
    Write(dir / "toc.html", tocDoc);
    Write(dir / "Content.html", contentDoc);
    Write(dir / "eBook.css", ".header { font-size: small }\n.title { font-weight: bold }\n.source { font-size: x-small }\n");
    Write(dir / "Newsdesk.opf",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package unique-identifier=\"notisbn\"><metadata>"
          "<dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\" "
          "xmlns:oebpackage=\"http://openebook.org/namespaces/oeb-package/1.0/\">"
          "<dc:Title>News 08.12.26 14:00 Vol.1</dc:Title><dc:Creator>Vantelia Inc.</dc:Creator>"
          "<dc:Identifier id=\"notisbn\">http://www.example.org/</dc:Identifier></dc-metadata></metadata>\n<manifest>\n"
          "<item id=\"toc\" href=\"TOC.html\" media-type=\"text/x-oeb1-document\"/>\n"
          "<item id=\"content\" href=\"Content.html\" media-type=\"text/x-oeb1-document\"/>\n"
          "<item id=\"css\" href=\"eBook.css\" media-type=\"text/x-oeb1-css\"/>\n" + manifestPics +
          "</manifest>\n<spine><itemref idref=\"toc\"/><itemref idref=\"content\"/></spine></package>\n");
    // The package names the table of contents as the generator does.
    fs::rename(dir / "toc.html", dir / "TOC.html");
    return dir / "Newsdesk.opf";
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 10, calibreRuns = 10, items = 50, pictures = 30;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](int& into) {
            if (i + 1 >= argc) {
                std::cerr << "litgen_bench: " << a << " needs a number\n" << kUsage;
                std::exit(2);
            }
            into = std::atoi(argv[++i]);
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--runs") value(runs);
        else if (a == "--calibre-runs") value(calibreRuns);
        else if (a == "--items") value(items);
        else if (a == "--pictures") value(pictures);
        else if (a == "--keep" && i + 1 < argc) keep = argv[++i];
        else {
            std::cerr << "litgen_bench: unknown argument " << a << "\n" << kUsage;
            return 2;
        }
    }
    if (runs < 1 || items < 1 || pictures < 0) {
        std::cerr << "litgen_bench: runs and items must be at least 1\n";
        return 2;
    }

    fs::path dir = keep.empty() ? fs::temp_directory_path() / ("litgen-bench-" + std::to_string(::getpid())) : fs::path(keep);
    std::size_t htmlBytes = 0;
    fs::path opf = MakePackage(dir / "pkg", items, pictures, htmlBytes);
    std::uintmax_t pictureBytes = 0;
    for (const auto& e : fs::directory_iterator(dir / "pkg" / "Images")) pictureBytes += e.file_size();
    std::printf("package: %d items, %zu bytes of HTML, %d pictures (%ju bytes)\n", items, htmlBytes, pictures,
                pictureBytes);

    std::string library = orvo::ExecutableDirectory() + "liblitgen.so";
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto create = handle ? reinterpret_cast<CreateWriterFunction>(::dlsym(handle, "CreateWriter")) : nullptr;
    if (!create) {
        std::cerr << "litgen_bench: cannot load " << library << "; build the litgen target first.\n";
        return 1;
    }
    IUnknown* unknown = create();
    void* object = nullptr;
    unknown->QueryInterface(IID_ILitWriter, &object);
    auto* writer = static_cast<ILitWriter*>(object);

    std::ostringstream sink;
    for (std::uint32_t flags : {0u, kStoreUncompressed}) {
        fs::path out = dir / (flags ? "litgen_stored.lit" : "litgen.lit");
        double best = 1e300, total = 0;
        for (int r = 0; r < runs; ++r) {
            auto t0 = std::chrono::steady_clock::now();
            int rc = PackBook(writer, opf.string(), out.string(), sink, sink, flags);
            double ms = Ms(std::chrono::steady_clock::now() - t0);
            if (rc != 0) {
                std::cerr << "litgen_bench: writing failed:\n" << sink.str();
                return 1;
            }
            total += ms;
            best = std::min(best, ms);
        }
        std::printf("litgen %-10s %8.1f ms per book (best %.1f, %d runs), %ju bytes\n", flags ? "stored:" : "compressed:",
                    total / runs, best, runs, fs::file_size(out));
    }
    writer->Release();
    unknown->Release();

    if (calibreRuns > 0) {
        if (std::system("command -v ebook-convert >/dev/null 2>&1") != 0) {
            std::printf("ebook-convert: not installed, skipped (install calibre to compare)\n");
        } else {
            fs::path out = dir / "calibre.lit";
            std::string cmd = "QT_QPA_PLATFORM=offscreen ebook-convert '" + opf.string() + "' '" + out.string() +
                              "' >/dev/null 2>&1";
            double best = 1e300, total = 0;
            for (int r = 0; r < calibreRuns; ++r) {
                auto t0 = std::chrono::steady_clock::now();
                int rc = std::system(cmd.c_str());
                double ms = Ms(std::chrono::steady_clock::now() - t0);
                if (rc != 0) {
                    std::printf("ebook-convert failed (status %d)\n", rc);
                    break;
                }
                total += ms;
                best = std::min(best, ms);
            }
            if (fs::exists(out))
                std::printf("ebook-convert      %8.1f ms per book (best %.1f, %d runs), %ju bytes\n", total / calibreRuns,
                            best, calibreRuns, fs::file_size(out));
        }
    }
    if (keep.empty()) fs::remove_all(dir);
    else std::printf("files kept in %s\n", dir.c_str());
    ::dlclose(handle);
    return 0;
}
