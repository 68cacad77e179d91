// The imaging framework's chained error object. Null means success; a returned chain belongs to the
// caller, who releases it or hands it on. Each Add appends an entry and returns the chain, so errors
// collect context on their way up without losing the first cause.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
using PravonSourceLocation = std::source_location;
#else
// The fuzzing compiler (clang 14 over libstdc++) has no std::source_location; errors keep only the line.
struct PravonSourceLocation {
    std::uint_least32_t lineNumber = 0;
    static constexpr PravonSourceLocation current(std::uint_least32_t line = __builtin_LINE()) {
        return {line};
    }
    constexpr std::uint_least32_t line() const { return lineNumber; }
};
#endif

class IPravonError {
public:
    struct Entry {
        LONG component = 0; // filter code or class code; 0 for a bare message
        LONG line = 0;
        LONG secondary = 0; // code of an outside library ("KVCM", "zlib", 1 for C runtime errors)
        LONG kind = 0;      // 0 when the entry only carries text
        std::string text;
        int depth = 0; // 0 for the chain's own entries, higher for wrapped inner errors
    };

    static IPravonError* Add(IPravonError* chain, LONG component, LONG line, LONG kind);
    static IPravonError* Add(IPravonError* chain, LONG component, LONG line, const char* text);
    static IPravonError* Add(IPravonError* chain, LONG component, LONG line, LONG secondary, LONG kind);
    static IPravonError* Add(IPravonError* chain, LONG component, LONG line, LONG kind, const char* text);
    static IPravonError* Add(IPravonError* chain, const char* text);
    // Wraps an inner error (taking it over) into the chain; a null inner leaves the chain as it is.
    static IPravonError* AddWorker(IPravonError* chain, IPravonError* inner);
    // Joins a further error onto the chain at the same level (both taken over).
    static IPravonError* Chain(IPravonError* chain, IPravonError* further);

    void Release();

    // The kind of the first cause: the earliest entry that carries a kind (0 if none does).
    LONG GetKind() const;
    // The component of the earliest entry that carries a kind.
    LONG GetComponent() const;
    bool HasKind(LONG kind) const;
    bool HasText(const std::string& fragment) const;
    std::size_t GetCount() const { return m_entries.size(); }
    const Entry& GetEntry(std::size_t index) const { return m_entries.at(index); }
    // One line per entry, for logs and test failures.
    std::string Describe() const;

private:
    IPravonError() = default;
    ~IPravonError() = default;
    static IPravonError* Append(IPravonError* chain, Entry entry);
    static IPravonError* OutOfMemory();
    static IPravonError* MakeStatic();
    static IPravonError* const s_outOfMemory;

    std::vector<Entry> m_entries;
    bool m_static = false; // the out-of-memory error handed out when even an error cannot be made
};

struct PravonErrorReleaser {
    void operator()(IPravonError* e) const {
        if (e)
            e->Release();
    }
};

// Owner of a chain inside our own code; release() hands it to the caller at the interface.
using PravonErrorPtr = std::unique_ptr<IPravonError, PravonErrorReleaser>;

// Error kinds of the imaging libraries.
namespace PravonKind {
constexpr LONG kNoSuchPass = 1001;
constexpr LONG kPassOpen = 1002;
constexpr LONG kNoSource = 1003;
constexpr LONG kMissingInput = 1004;
constexpr LONG kOutOfMemory = 1005;
constexpr LONG kInvalidState = 1007;
constexpr LONG kUnsupportedColorSpace = 1010;
constexpr LONG kOutOfRange = 1013;
constexpr LONG kBadArgument = 1014;
constexpr LONG kNotInitialised = 11000;
} // namespace PravonKind

// The one spelling for errors in our own code. PravonFail makes a new error of a component, a kind and a
// text at the caller's line; PravonContext adds the caller's component, line and text to an inner error
// it takes over, so the first cause stays first. A null inner is success and stays null.
IPravonError* PravonFail(LONG component, LONG kind, const char* text,
                         PravonSourceLocation at = PravonSourceLocation::current());
IPravonError* PravonFail(LONG component, LONG kind, const std::string& text,
                         PravonSourceLocation at = PravonSourceLocation::current());
IPravonError* PravonContext(IPravonError* inner, LONG component, const char* text,
                            PravonSourceLocation at = PravonSourceLocation::current());
IPravonError* PravonContext(IPravonError* inner, LONG component, const std::string& text,
                            PravonSourceLocation at = PravonSourceLocation::current());
// The failure of an outside library under the caller's component: the library's code ("KVCM", "zlib", 1 for
// the C runtime) as the secondary code and its result as the kind.
IPravonError* PravonLibraryFail(LONG component, LONG library, LONG result,
                                PravonSourceLocation at = PravonSourceLocation::current());

#define PRAVON_ERROR(chain, component, kind) IPravonError::Add((chain), (component), __LINE__, (kind))
