// Driving the LIT writer library (liblitgen.so, loaded at run time): name
// the output, then feed it the package file, each stylesheet, each content
// document and each picture through the hosts it hands out.
#pragma once

#include <memory>
#include <string>

namespace orvo {

// The writer's interface (litgen/litgen.h); only the driving needs its inside.
namespace litgen {
class ILitWriter;
}

// liblitgen.so beside the running program's executable. The library belongs
// to the binaries, so ORVO_HOME (another data folder) does not move it.
std::string DefaultWriterLibraryPath();

// The loaded library and its writer, for one run.
class WriterLibrary {
 public:
  // Null when the library, its CreateWriter or the writer interface is
  // missing; *error then says which.
  static std::unique_ptr<WriterLibrary> Load(const std::string& path, std::string* error);
  ~WriterLibrary();  // releases the writer, then unloads the library
  WriterLibrary(const WriterLibrary&) = delete;
  WriterLibrary& operator=(const WriterLibrary&) = delete;

  litgen::ILitWriter* writer() const { return writer_; }

 private:
  WriterLibrary(void* handle, litgen::ILitWriter* writer) : handle_(handle), writer_(writer) {}
  void* handle_;
  litgen::ILitWriter* writer_;
};

// Compiles the package `packagePath` (.opf) into `outputPath` (.lit). 0 on
// success, 1 on failure; the writer is told to abandon a failed file. Every
// failure is printed to standard error and written to the event log.
int WriteLitFile(const std::string& packagePath, const std::string& outputPath,
                 litgen::ILitWriter* writer);

}  // namespace orvo
