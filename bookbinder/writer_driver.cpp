#include "writer_driver.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include <pugixml.hpp>

#include "eventlog.h"
#include "litgen/litgen.h"
#include "platform.h"

namespace orvo {

using litgen::Failed;
using litgen::Guid;
using litgen::HRESULT;
using litgen::IUnknown;

namespace {

// Raised inside one file's writing; caught at the file's level.
struct WriterError {
  HRESULT hr;
};

std::string Narrow(const std::u16string& s) { return Utf16ToUtf8(s); }

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(hr));
  return buf;
}

// A server's standard error goes nowhere, so every diagnostic is also logged.
void Diagnose(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  WriteEventLog(line);
}

// "Error 0x%x <what>" with an optional file name.
[[noreturn]] void Raise(HRESULT hr, const std::string& what) {
  Diagnose("Error 0x" + Hex(hr) + " " + what);
  throw WriterError{hr};
}

void Check(HRESULT hr, const char* what, const std::string& name = "") {
  if (Failed(hr)) Raise(hr, name.empty() ? std::string(what) : std::string(what) + " " + name + ".");
}

HRESULT FromErrno(int err) {
  return static_cast<HRESULT>(0x80070000u | static_cast<unsigned>(err & 0xFFFF));
}

// One reference to an interface, released at the end of the scope.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** Out() {
    Reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

template <class T>
HRESULT Query(IUnknown* from, const Guid& iid, Ref<T>* to) {
  if (!from) return litgen::E_POINTER;
  void* p = nullptr;
  HRESULT hr = from->QueryInterface(iid, &p);
  if (Failed(hr)) return hr;
  if (!p) return litgen::E_NOINTERFACE;
  *to->Out() = static_cast<T*>(p);
  return hr;
}

std::string HostFileName(const std::u16string& name) {
  std::string path = Narrow(name);
  if (path.rfind("file://", 0) == 0) path.erase(0, 7);
  return path;
}

// The writer's messages. Errors are worth a line in the log.
class MessageCallback final : public litgen::IMessageCallback {
 public:
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (!object) return litgen::E_POINTER;
    if (iid == litgen::IID_IUnknown || iid == litgen::IID_IMessageCallback) {
      *object = static_cast<litgen::IMessageCallback*>(this);
      AddRef();
      return litgen::S_OK;
    }
    *object = nullptr;
    return litgen::E_NOINTERFACE;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT Message(int32_t kind, HRESULT code, const char16_t* text) override {
    std::string line = "LIT writer " + std::string(kind == 0 ? "error" : kind == 1 ? "warning" : "message") +
                       " 0x" + Hex(code) + ": " + (text ? Narrow(text) : std::string());
    if (kind == 0)
      Diagnose(line);
    else
      std::fprintf(stderr, "%s\n", line.c_str());
    return litgen::S_OK;
  }

 private:
  std::atomic<uint32_t> refs_{1};
};

void SendText(litgen::IParserHost* host, const char* text) {
  std::u16string t = Utf8ToUtf16(text);
  if (!t.empty())
    Check(host->Text(t.data(), static_cast<uint32_t>(t.size())), "sending text", Narrow(t.substr(0, 40)));
}

void WalkElement(litgen::IParserHost* host, pugi::xml_node element) {
  Ref<IUnknown> tagObject;
  std::string name = element.name();
  Check(host->NewTag(tagObject.Out()), "creating tag", name);
  Ref<litgen::ITag> tag;
  Check(Query(tagObject.get(), litgen::IID_ITag, &tag), "setting tag name", name);
  std::u16string name16 = Utf8ToUtf16(name);
  Check(tag->SetName(name16.data(), static_cast<uint32_t>(name16.size())), "setting tag name", name);
  for (pugi::xml_attribute a : element.attributes()) {
    std::u16string n = Utf8ToUtf16(a.name()), v = Utf8ToUtf16(a.value());
    Check(tag->AddAttribute(n.data(), static_cast<uint32_t>(n.size()), v.data(), static_cast<uint32_t>(v.size())),
          "setting tag attribute", a.name());
  }
  const bool hasChildren = element.first_child();
  Check(host->BeginTag(tagObject.get(), hasChildren ? 1 : 0), "setting tag name", name);
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    switch (child.type()) {
      case pugi::node_element:
        WalkElement(host, child);
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        SendText(host, child.value());
        break;
      default:  // comments, processing instructions
        break;
    }
  }
  if (hasChildren) Check(host->EndTag(), "closing tag", name);
}

// Feeds one XML document into a parser host as tag and text events.
void WalkDocument(litgen::IParserHost* host, const std::string& path) {
  pugi::xml_document doc;
  pugi::xml_parse_result r = doc.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  if (!r) {
    int line = 1;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      for (ptrdiff_t i = 0; i < r.offset; ++i) {
        int c = std::fgetc(f);
        if (c == EOF) break;
        if (c == '\n') ++line;
      }
      std::fclose(f);
    }
    Diagnose("Parse error " + std::to_string(static_cast<int>(r.status)) + " at " + path + ":" +
             std::to_string(line) + ": " + r.description());
    throw WriterError{litgen::E_FAIL};
  }
  pugi::xml_node root = doc.document_element();
  if (root) WalkElement(host, root);
}

// Copies a file into a host in pieces of at most 512 bytes. `kind` is "CSS"
// or "image" for the messages.
template <class Host>
void CopyFile(Host* host, const std::string& path, const char* kind) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) Raise(FromErrno(errno), std::string("opening ") + kind + " file " + path + ".");
  char buf[512];
  for (;;) {
    size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n == 0) {
      bool bad = std::ferror(f);
      int err = errno;
      std::fclose(f);
      if (bad) Raise(FromErrno(err), std::string("reading from ") + kind + " file " + path + ".");
      return;
    }
    HRESULT hr = host->Write(buf, static_cast<uint32_t>(n), nullptr);
    if (Failed(hr)) {
      std::fclose(f);
      Raise(hr, std::string("copying ") + (kind[0] == 'C' ? "CSS" : "image") + " from " + path + ".");
    }
  }
}

void WriteAll(litgen::ILitWriter* writer, const std::string& package, const std::string& output) {
  MessageCallback* callback = new MessageCallback;
  HRESULT hr = writer->SetCallback(callback);
  callback->Release();  // the writer keeps its own reference
  Check(hr, "setting message callback on writer.");

  std::u16string output16 = Utf8ToUtf16(output), package16 = Utf8ToUtf16(package);
  Check(writer->CreateOutput(output16.c_str(), package16.c_str(), u"DemoPublisher", 0), "creating output file",
        output);

  {
    Ref<IUnknown> object;
    Check(writer->GetPackageHost(0, object.Out()), "getting package file host.");
    Ref<litgen::IParserHost> host;
    Check(Query(object.get(), litgen::IID_IParserHost, &host), "getting package file host.");
    WalkDocument(host.get(), package);
    Check(host->FinishDocument(), "processing package file", package);
  }

  for (;;) {
    Ref<IUnknown> object;
    hr = writer->NextStylesheetHost(object.Out());
    Check(hr, "getting CSS host.");
    if (hr == litgen::S_FALSE) break;
    Ref<litgen::IStylesheetHost> host;
    Check(Query(object.get(), litgen::IID_IStylesheetHost, &host), "getting CSS host.");
    std::u16string name;
    Check(host->GetFileName(&name), "getting CSS filename.");
    std::string path = HostFileName(name);
    std::printf("Copying CSS file %s...\n", path.c_str());
    CopyFile(host.get(), path, "CSS");
    Check(host->Finish(), "writing CSS file", path);
  }

  for (;;) {
    Ref<IUnknown> object;
    hr = writer->NextContentHost(object.Out());
    Check(hr, "getting content host.");
    if (hr == litgen::S_FALSE) break;
    Ref<litgen::IParserHost> host;
    Check(Query(object.get(), litgen::IID_IParserHost, &host), "getting content host.");
    std::u16string name;
    Check(host->GetFileName(&name), "getting content filename.");
    std::string path = HostFileName(name);
    std::printf("Processing content file %s...\n", path.c_str());
    WalkDocument(host.get(), path);
    Check(host->FinishDocument(), "processing OEB content", path);
  }

  for (;;) {
    Ref<IUnknown> object;
    hr = writer->NextPictureHost(object.Out());
    Check(hr, "getting image host.");
    if (hr == litgen::S_FALSE) break;
    Ref<litgen::IPictureHost> host;
    Check(Query(object.get(), litgen::IID_IPictureHost, &host), "getting image host.");
    std::u16string name;
    Check(host->GetFileName(&name), "getting image filename.");
    std::string path = HostFileName(name);
    std::printf("Copying image file %s...\n", path.c_str());
    try {
      CopyFile(host.get(), path, "image");
    } catch (const WriterError&) {
      // This picture only: the book goes on without it.
    }
  }

  Check(writer->Finish(), "finishing output file.");
}

}  // namespace

std::string DefaultWriterLibraryPath() { return ExecutableDirectory() + "liblitgen.so"; }

std::unique_ptr<WriterLibrary> WriterLibrary::Load(const std::string& path, std::string* error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    *error = "Can not load the LIT writer " + path + ": " + (e ? e : "unknown error");
    return nullptr;
  }
  auto create = reinterpret_cast<CreateWriterFunction>(::dlsym(handle, "CreateWriter"));
  if (!create) {
    *error = "The LIT writer " + path + " has no CreateWriter";
    ::dlclose(handle);
    return nullptr;
  }
  IUnknown* object = create();
  void* writer = nullptr;
  HRESULT hr = object ? object->QueryInterface(litgen::IID_ILitWriter, &writer) : litgen::E_POINTER;
  if (object) object->Release();
  if (Failed(hr) || !writer) {
    *error = "The LIT writer " + path + " gives no writer interface (0x" + Hex(hr) + ")";
    ::dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<WriterLibrary>(new WriterLibrary(handle, static_cast<litgen::ILitWriter*>(writer)));
}

WriterLibrary::~WriterLibrary() {
  writer_->Release();
  ::dlclose(handle_);
}

int WriteLitFile(const std::string& packagePath, const std::string& outputPath, litgen::ILitWriter* writer) {
  std::error_code ec;
  std::string package = std::filesystem::absolute(packagePath, ec).string();
  if (ec) {
    Diagnose("Error 0x" + Hex(FromErrno(ec.value())) + " resolving package filename.");
    return 1;
  }
  std::string output = std::filesystem::absolute(outputPath, ec).string();
  if (ec) {
    Diagnose("Error 0x" + Hex(FromErrno(ec.value())) + " resolving .lit filename.");
    return 1;
  }
  try {
    WriteAll(writer, package, output);
    std::fflush(stdout);
    return 0;
  } catch (const WriterError& e) {
    Diagnose("Terminating for error 0x" + Hex(e.hr) + ".");
    writer->Abandon();
    return 1;
  } catch (const std::exception& e) {  // out of memory in our own code
    Diagnose(std::string("Terminating for error: ") + e.what());
    writer->Abandon();
    return 1;
  }
}

}  // namespace orvo
