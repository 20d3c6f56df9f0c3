// Stands in for the writer driving in a build without the LIT writer
// library's interface: every run then fails as if the library were missing,
// and says why.
#include "writer_driver.h"

#include <unistd.h>

namespace orvo {

std::string DefaultWriterLibraryPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string dir = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./");
  dir.erase(dir.rfind('/') + 1);
  return dir + "liblitgen.so";
}

std::unique_ptr<WriterLibrary> WriterLibrary::Load(const std::string& path, std::string* error) {
  *error = "Can not load the LIT writer " + path + ": this Bookbinder was built without the LIT writer (litgen/)";
  return nullptr;
}

WriterLibrary::~WriterLibrary() = default;

int WriteLitFile(const std::string&, const std::string&, litgen::ILitWriter*) { return 1; }

}  // namespace orvo
