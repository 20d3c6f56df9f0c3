// litgen-pack: turns an OEB package into a .lit file with liblitgen.so.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <iostream>
#include <string>

#include "litgen/litgen.h"
#include "pack_driver.h"
#include "orvo_version.h"
#include "platform.h"

namespace {

const char* const kUsage =
    "Usage: litgen-pack [--stored] PACKAGE.opf OUT.lit\n"
    "\n"
    "Writes the OEB package PACKAGE.opf (with its documents, stylesheets and\n"
    "pictures) as the Microsoft Reader book OUT.lit, using liblitgen.so from\n"
    "this program's folder.\n"
    "\n"
    "  --stored   store the text without compression (faster, larger)\n"
    "  --quiet    print errors only\n"
    "  --help     show this text\n"
    "  --version  print the version\n"
    "\n"
    "Exit status: 0 written, 1 failed (the message says why), 2 bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace orvo::litgen;
    std::uint32_t flags = 0;
    bool quiet = false;
    std::string args[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "litgen-pack " << orvo::kVersion << "\n";
            return 0;
        } else if (a == "--stored") {
            flags |= kStoreUncompressed;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "litgen-pack: unknown option " << a << "\n" << kUsage;
            return 2;
        } else if (count < 2) {
            args[count++] = a;
        } else {
            std::cerr << "litgen-pack: too many arguments\n" << kUsage;
            return 2;
        }
    }
    if (count != 2) {
        std::cerr << "litgen-pack: give the package file and the output file\n" << kUsage;
        return 2;
    }

    std::string library = orvo::ExecutableDirectory() + "liblitgen.so";
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::cerr << "litgen-pack: cannot load " << library << ": " << ::dlerror()
                  << "\nReinstall the program so that liblitgen.so sits beside it.\n";
        return 1;
    }
    auto create = reinterpret_cast<CreateWriterFunction>(::dlsym(handle, "CreateWriter"));
    IUnknown* unknown = create ? create() : nullptr;
    void* object = nullptr;
    if (!unknown || Failed(unknown->QueryInterface(IID_ILitWriter, &object))) {
        std::cerr << "litgen-pack: " << library << " offers no LIT writer; reinstall the program.\n";
        if (unknown) unknown->Release();
        ::dlclose(handle);
        return 1;
    }
    auto* writer = static_cast<ILitWriter*>(object);
    std::ostream null(nullptr);
    int rc = PackBook(writer, args[0], args[1], quiet ? null : std::cout, std::cerr, flags);
    writer->Release();
    unknown->Release();
    ::dlclose(handle);
    if (rc == 0 && !quiet) std::cout << "Wrote " << args[1] << "\n";
    return rc;
}
