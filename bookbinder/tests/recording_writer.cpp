// A stand-in LIT writer for the driving tests: it accepts the calls of the
// real one, hands out hosts for the package's manifest items, and records
// every call it receives. Its "book" is the record itself, so a test can see
// what each volume was fed. One operation can be made to fail.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "litgen/litgen.h"

using namespace orvo::litgen;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_events;
std::string g_failAt;

std::string Narrow(const char16_t* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {  // good enough for the tests' texts (no surrogates)
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
std::string Narrow(const char16_t* s) {
  size_t n = 0;
  while (s && s[n]) ++n;
  return Narrow(s, n);
}
std::u16string Wide(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out += static_cast<char16_t>(c);  // paths are ASCII in the tests
  return out;
}

// Records the event; the failure code when the test chose this operation.
HRESULT Record(const std::string& event, const std::string& op) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_events.push_back(event);
  return op == g_failAt ? E_FAIL : S_OK;
}

template <class Base>
class Object : public Base {
 public:
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IUnknown || Supports(iid)) {
      *object = static_cast<Base*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  virtual ~Object() = default;

 protected:
  virtual bool Supports(const Guid& iid) const = 0;

 private:
  std::uint32_t refs_ = 1;
};

struct Item {
  std::string id, href, mediaType;
};

class Tag : public Object<ITag> {
 public:
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  HRESULT SetName(const char16_t* n, std::uint32_t len) override {
    name = Narrow(n, len);
    return Record("name " + name, "SetName");
  }
  HRESULT AddAttribute(const char16_t* n, std::uint32_t nl, const char16_t* v, std::uint32_t vl) override {
    attributes.emplace_back(Narrow(n, nl), Narrow(v, vl));
    return Record("attr " + attributes.back().first + "=" + attributes.back().second, "AddAttribute");
  }

 protected:
  bool Supports(const Guid& iid) const override { return iid == IID_ITag; }
};

class ParserHost : public Object<IParserHost> {
 public:
  ParserHost(std::string file, std::vector<Item>* items) : file_(std::move(file)), items_(items) {}
  HRESULT GetId(std::u16string* id) override {
    *id = u"x";
    return S_OK;
  }
  HRESULT GetFileName(std::u16string* name) override {
    *name = Wide(file_);
    return Record("filename", "GetFileName");
  }
  HRESULT GetMediaType(std::u16string* t) override {
    *t = u"text/x-oeb1-document";
    return S_OK;
  }
  HRESULT NewTag(IUnknown** tag) override {
    *tag = new Tag;
    return Record("newtag", "NewTag");
  }
  HRESULT BeginTag(IUnknown* tagObject, std::int32_t hasChildren) override {
    void* p = nullptr;
    if (tagObject->QueryInterface(IID_ITag, &p) != S_OK) return E_INVALIDARG;
    Tag* tag = static_cast<Tag*>(static_cast<ITag*>(p));
    if (items_ && tag->name == "item") {
      Item item;
      for (auto& [k, v] : tag->attributes) {
        if (k == "id") item.id = v;
        if (k == "href") item.href = v;
        if (k == "media-type") item.mediaType = v;
      }
      items_->push_back(item);
    }
    std::string event = "begin " + tag->name + (hasChildren ? " +" : " -");
    tag->Release();
    return Record(event, "BeginTag");
  }
  HRESULT Text(const char16_t* text, std::uint32_t length) override {
    return Record("text " + Narrow(text, length), "Text");
  }
  HRESULT EndTag() override { return Record("end", "EndTag"); }
  HRESULT Comment(const char16_t*, std::uint32_t) override { return S_OK; }
  HRESULT FinishDocument() override { return Record("finishdoc", "FinishDocument"); }

 protected:
  bool Supports(const Guid& iid) const override { return iid == IID_IParserHost; }

 private:
  std::string file_;
  std::vector<Item>* items_;
};

template <class Base>
class ByteHost : public Object<Base> {
 public:
  ByteHost(std::string file, std::string kind, Guid iid) : file_(std::move(file)), kind_(kind), iid_(iid) {}
  HRESULT GetId(std::u16string* id) override {
    *id = u"x";
    return S_OK;
  }
  HRESULT GetFileName(std::u16string* name) override {
    *name = Wide(file_);
    return Record("filename", "GetFileName");
  }
  HRESULT GetMediaType(std::u16string* t) override {
    *t = u"x";
    return S_OK;
  }
  HRESULT Write(const void*, std::uint32_t count, std::uint32_t* written) override {
    if (written) *written = count;
    return Record(kind_ + " write " + std::to_string(count), kind_ + "Write");
  }
  HRESULT Finish() override { return Record(kind_ + " finish", kind_ + "Finish"); }

 protected:
  bool Supports(const Guid& iid) const override { return iid == iid_; }

 private:
  std::string file_, kind_;
  Guid iid_;
};

class Writer : public Object<ILitWriter> {
 public:
  ~Writer() override {
    if (callback_) callback_->Release();
  }
  HRESULT SetCallback(IMessageCallback* cb) override {
    if (cb) cb->AddRef();
    if (callback_) callback_->Release();
    callback_ = cb;
    return Record("callback", "SetCallback");
  }
  HRESULT CreateOutput(const char16_t* out, const char16_t* pkg, const char16_t* publisher,
                       std::uint32_t flags) override {
    output_ = Narrow(out);
    folder_ = std::filesystem::path(Narrow(pkg)).parent_path().string() + "/";
    items_.clear();
    next_ = 0;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      start_ = g_events.size();
    }
    return Record("create " + output_ + " " + Narrow(pkg) + " " + Narrow(publisher) + " " + std::to_string(flags),
                  "CreateOutput");
  }
  HRESULT GetPackageHost(std::uint32_t reserved, IUnknown** host) override {
    *host = new ParserHost("", &items_);
    return Record("package " + std::to_string(reserved), "GetPackageHost");
  }
  HRESULT NextStylesheetHost(IUnknown** host) override { return Next(host, "css", "NextStylesheetHost"); }
  HRESULT NextContentHost(IUnknown** host) override { return Next(host, "document", "NextContentHost"); }
  HRESULT NextPictureHost(IUnknown** host) override { return Next(host, "image", "NextPictureHost"); }
  HRESULT Finish() override {
    HRESULT hr = Record("finish", "Finish");
    if (hr != S_OK) return hr;
    // The "book" is what this output was fed.
    std::lock_guard<std::mutex> lock(g_mutex);
    std::ofstream out(output_, std::ios::binary | std::ios::trunc);
    for (size_t i = start_; i < g_events.size(); ++i) out << g_events[i] << "\n";
    return out ? S_OK : E_ACCESSDENIED;
  }
  HRESULT Abandon() override { return Record("abandon", "Abandon"); }

 protected:
  bool Supports(const Guid& iid) const override { return iid == IID_ILitWriter; }

 private:
  HRESULT Next(IUnknown** host, const std::string& kind, const char* op) {
    *host = nullptr;
    for (; next_ < items_.size(); ++next_) {
      const Item& item = items_[next_];
      bool match = item.mediaType.find(kind == "document" ? "document" : kind) != std::string::npos;
      if (!match) continue;
      std::string file = item.href.size() && item.href[0] == '/' ? item.href : folder_ + item.href;
      ++next_;
      if (kind == "css") *host = new ByteHost<IStylesheetHost>(file, "css", IID_IStylesheetHost);
      else if (kind == "image") *host = new ByteHost<IPictureHost>(file, "image", IID_IPictureHost);
      else *host = new ParserHost(file, nullptr);
      return Record(kind + " host " + item.id, op);
    }
    next_ = 0;  // the next kind starts from the top of the manifest
    HRESULT hr = Record(kind + " end", op);
    return hr == S_OK ? S_FALSE : hr;
  }

  IMessageCallback* callback_ = nullptr;
  std::string output_, folder_;
  std::vector<Item> items_;
  size_t next_ = 0;
  size_t start_ = 0;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) IUnknown* CreateWriter() { return new Writer; }

// The test's controls.
__attribute__((visibility("default"))) void RecordingWriterReset(const char* failAt) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_events.clear();
  g_failAt = failAt ? failAt : "";
}

__attribute__((visibility("default"))) size_t RecordingWriterEvents(char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string all;
  for (const std::string& e : g_events) all += e + "\n";
  if (buffer && size) {
    size_t n = std::min(size - 1, all.size());
    all.copy(buffer, n);
    buffer[n] = '\0';
  }
  return all.size();
}
}
