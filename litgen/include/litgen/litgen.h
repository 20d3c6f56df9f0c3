// Public interface of the LIT writer library (liblitgen.so).
//
// The eBook generator loads the library at run time, calls CreateWriter and
// asks the object it gets for ILitWriter. The writer then hands out one host
// per item of the package: first the package document, then each stylesheet,
// each content document and each picture, in the order it chooses from the
// package's manifest. Documents arrive as tag, attribute and text events;
// stylesheets and pictures as raw bytes.
//
// The interfaces are abstract classes whose virtual functions sit in a fixed
// order (slot 0 is QueryInterface); callers must not reorder them. Texts are
// UTF-16. Every operation returns S_OK on success, S_FALSE where a host
// sequence has nothing further, and a failure code (negative) otherwise;
// errors and warnings also reach the message callback as text.
//
// One output, as the generator drives it:
//   SetCallback(cb); CreateOutput(lit, opf, u"DemoPublisher", 0);
//   GetPackageHost(0, &h) -> IParserHost: tag/text events of the .opf, FinishDocument();
//   while (NextStylesheetHost(&h) == S_OK) -> IStylesheetHost: Write(bytes)..., Finish();
//   while (NextContentHost(&h) == S_OK)    -> IParserHost: events, FinishDocument();
//   while (NextPictureHost(&h) == S_OK)    -> IPictureHost: Write(bytes)...;
//   Finish();            // or Abandon() after any failure
// Each host names the file to read (GetFileName, a full path). The writer
// writes the .lit file only in Finish (under a temporary name, then renamed),
// so an abandoned or failed output leaves nothing behind. The same writer
// then takes the next output. One thread at a time.
#ifndef LITGEN_LITGEN_H
#define LITGEN_LITGEN_H

#include <cstdint>
#include <cstring>
#include <string>

namespace orvo::litgen {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// A file could not be opened, written or renamed (errno is in the message).
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
// Input that breaks the rules of the format (unbalanced tags, a package
// without spine, ...).
constexpr HRESULT E_BADFORMAT = static_cast<HRESULT>(0x8007000Bu);

inline bool Succeeded(HRESULT hr) { return hr >= 0; }
inline bool Failed(HRESULT hr) { return hr < 0; }

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
    return std::memcmp(&a, &b, sizeof(Guid)) == 0;
}

// {00000000-0000-0000-C000-000000000046}
inline constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                               {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IID_ILitWriter = {0x9EC81687, 0xD4F9, 0x4B20,
                                 {0x96, 0x9A, 0x22, 0x2B, 0xC0, 0x0C, 0xE5, 0x0A}};
inline constexpr Guid IID_IParserHost = {0x607A85B7, 0x59C1, 0x4B22,
                                  {0xB8, 0x73, 0xA3, 0x63, 0x34, 0x74, 0x06, 0x61}};
inline constexpr Guid IID_ITag = {0xD655ECEB, 0x829A, 0x11D3,
                           {0x92, 0x9B, 0x00, 0xC0, 0x4F, 0x68, 0xFC, 0x0F}};
inline constexpr Guid IID_IStylesheetHost = {0xD7426056, 0xFA2D, 0x4D14,
                                      {0xB3, 0x6C, 0x34, 0xD4, 0x9A, 0x20, 0xD2, 0x37}};
inline constexpr Guid IID_IPictureHost = {0xD655ECEE, 0x829A, 0x11D3,
                                   {0x92, 0x9B, 0x00, 0xC0, 0x4F, 0x68, 0xFC, 0x0F}};
inline constexpr Guid IID_IMessageCallback = {0x6BC62165, 0xB91C, 0x4993,
                                       {0x80, 0x02, 0x5B, 0xC3, 0x0B, 0x2D, 0x11, 0x96}};

// Slots 0-2. Reference counted: every interface pointer handed out carries
// one reference that the receiver releases.
class IUnknown {
public:
    virtual HRESULT QueryInterface(const Guid& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// Implemented by the caller. kind: -1 message, 0 error, 1 warning.
class IMessageCallback : public IUnknown {
public:
    virtual HRESULT Message(std::int32_t kind, HRESULT code, const char16_t* text) = 0;  // 3

protected:
    ~IMessageCallback() = default;
};

class ITag : public IUnknown {
public:
    virtual HRESULT SetName(const char16_t* name, std::uint32_t length) = 0;  // 3
    virtual HRESULT AddAttribute(const char16_t* name, std::uint32_t nameLength,
                                 const char16_t* value, std::uint32_t valueLength) = 0;  // 4

protected:
    ~ITag() = default;
};

// Receives one XML document (the package or a content document) as events.
class IParserHost : public IUnknown {
public:
    virtual HRESULT GetId(std::u16string* id) = 0;                // 3: manifest id
    virtual HRESULT GetFileName(std::u16string* fileName) = 0;    // 4: full path to read
    virtual HRESULT GetMediaType(std::u16string* mediaType) = 0;  // 5
    virtual HRESULT NewTag(IUnknown** tag) = 0;                   // 6: ask it for ITag
    virtual HRESULT BeginTag(IUnknown* tag, std::int32_t hasChildren) = 0;  // 7
    virtual HRESULT Text(const char16_t* text, std::uint32_t length) = 0;   // 8
    virtual HRESULT EndTag() = 0;                                           // 9
    virtual HRESULT Comment(const char16_t* text, std::uint32_t length) = 0;  // 10: dropped
    virtual HRESULT FinishDocument() = 0;                                     // 11

protected:
    ~IParserHost() = default;
};

class IStylesheetHost : public IUnknown {
public:
    virtual HRESULT GetId(std::u16string* id) = 0;                // 3
    virtual HRESULT GetFileName(std::u16string* fileName) = 0;    // 4
    virtual HRESULT GetMediaType(std::u16string* mediaType) = 0;  // 5
    // written may be null.
    virtual HRESULT Write(const void* data, std::uint32_t count, std::uint32_t* written) = 0;  // 6
    virtual HRESULT Finish() = 0;                                                            // 7

protected:
    ~IStylesheetHost() = default;
};

// A picture is complete when the next picture host is asked for or the
// output is finished; Finish only says so early (S_FALSE: left out). A
// picture that received no bytes, or not as many as its file holds, is left
// out of the book with a warning.
class IPictureHost : public IUnknown {
public:
    virtual HRESULT GetId(std::u16string* id) = 0;                // 3
    virtual HRESULT GetFileName(std::u16string* fileName) = 0;    // 4
    virtual HRESULT GetMediaType(std::u16string* mediaType) = 0;  // 5
    virtual HRESULT Write(const void* data, std::uint32_t count, std::uint32_t* written) = 0;  // 6
    virtual HRESULT Finish() = 0;                                                            // 7

protected:
    ~IPictureHost() = default;
};

// Flags for CreateOutput.
constexpr std::uint32_t kStoreUncompressed = 0x1;  // LZX stored blocks only (faster, larger)

class ILitWriter : public IUnknown {
public:
    virtual HRESULT SetCallback(IMessageCallback* callback) = 0;  // 3 (null removes it)
    virtual HRESULT CreateOutput(const char16_t* outputPath, const char16_t* packagePath,
                                 const char16_t* publisher, std::uint32_t flags) = 0;  // 4
    virtual HRESULT GetPackageHost(std::uint32_t reserved, IUnknown** host) = 0;      // 5
    virtual HRESULT NextStylesheetHost(IUnknown** host) = 0;  // 6: S_FALSE at the end
    virtual HRESULT NextContentHost(IUnknown** host) = 0;     // 7: S_FALSE at the end
    virtual HRESULT NextPictureHost(IUnknown** host) = 0;     // 8: S_FALSE at the end
    virtual HRESULT Finish() = 0;                             // 9: writes the file
    virtual HRESULT Abandon() = 0;                            // 10: leaves no file behind

protected:
    ~ILitWriter() = default;
};

}  // namespace orvo::litgen

extern "C" {
// Returns a new writer object (one reference) as IUnknown; ask it for
// IID_ILitWriter. Null when out of memory.
orvo::litgen::IUnknown* CreateWriter();
using CreateWriterFunction = orvo::litgen::IUnknown* (*)();
}

#endif  // LITGEN_LITGEN_H
