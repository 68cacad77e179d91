#include "IPravonError.h"

#include "platform/win/FourCC.h"

#include <cstdio>
#include <new>

IPravonError* IPravonError::Append(IPravonError* chain, Entry entry) {
    try {
        if (!chain)
            chain = new IPravonError();
        if (chain->m_static)
            return chain;
        chain->m_entries.push_back(std::move(entry));
        return chain;
    } catch (const std::bad_alloc&) {
        if (chain)
            return chain;
        return OutOfMemory();
    }
}

IPravonError* IPravonError::Add(IPravonError* chain, LONG component, LONG line, LONG kind) {
    return Append(chain, Entry{component, line, 0, kind, {}, 0});
}

IPravonError* IPravonError::Add(IPravonError* chain, LONG component, LONG line, const char* text) {
    return Append(chain, Entry{component, line, 0, 0, text ? text : "", 0});
}

IPravonError* IPravonError::Add(IPravonError* chain, LONG component, LONG line, LONG secondary, LONG kind) {
    return Append(chain, Entry{component, line, secondary, kind, {}, 0});
}

IPravonError* IPravonError::Add(IPravonError* chain, LONG component, LONG line, LONG kind, const char* text) {
    return Append(chain, Entry{component, line, 0, kind, text ? text : "", 0});
}

IPravonError* IPravonError::Add(IPravonError* chain, const char* text) {
    return Append(chain, Entry{0, 0, 0, 0, text ? text : "", 0});
}

IPravonError* IPravonError::AddWorker(IPravonError* chain, IPravonError* inner) {
    if (!inner)
        return chain;
    if (!chain)
        return inner;
    if (chain->m_static || inner->m_static) {
        if (!inner->m_static)
            inner->Release();
        return chain;
    }
    try {
        chain->m_entries.reserve(chain->m_entries.size() + inner->m_entries.size());
        for (Entry& e : inner->m_entries) {
            e.depth += 1;
            chain->m_entries.push_back(std::move(e));
        }
    } catch (const std::bad_alloc&) {
    }
    inner->Release();
    return chain;
}

IPravonError* IPravonError::Chain(IPravonError* chain, IPravonError* further) {
    if (!further)
        return chain;
    if (!chain)
        return further;
    if (!chain->m_static && !further->m_static) {
        try {
            for (Entry& e : further->m_entries)
                chain->m_entries.push_back(std::move(e));
        } catch (const std::bad_alloc&) {
        }
    }
    further->Release();
    return chain;
}

void IPravonError::Release() {
    if (!m_static)
        delete this;
}

LONG IPravonError::GetKind() const {
    for (const Entry& e : m_entries)
        if (e.kind != 0)
            return e.kind;
    return 0;
}

LONG IPravonError::GetComponent() const {
    for (const Entry& e : m_entries)
        if (e.kind != 0)
            return e.component;
    return m_entries.empty() ? 0 : m_entries.front().component;
}

bool IPravonError::HasKind(LONG kind) const {
    for (const Entry& e : m_entries)
        if (e.kind == kind)
            return true;
    return false;
}

bool IPravonError::HasText(const std::string& fragment) const {
    for (const Entry& e : m_entries)
        if (e.text.find(fragment) != std::string::npos)
            return true;
    return false;
}

std::string IPravonError::Describe() const {
    std::string out;
    char buf[160];
    for (const Entry& e : m_entries) {
        out.append(static_cast<std::size_t>(2 * e.depth), ' ');
        std::snprintf(buf, sizeof buf, "[%s] line %d kind %d", FourCCText(e.component).c_str(), e.line,
                      e.kind);
        out += buf;
        if (e.secondary != 0) {
            const std::string code = FourCCText(e.secondary);
            if (code.find('.') == std::string::npos)
                out += " secondary " + code;
            else {
                std::snprintf(buf, sizeof buf, " secondary %d", e.secondary);
                out += buf;
            }
        }
        if (!e.text.empty())
            out += ": " + e.text;
        out += '\n';
    }
    return out;
}

IPravonError* IPravonError::OutOfMemory() {
    // Made while the library loads, so that it exists when memory has run out.
    return s_outOfMemory;
}

IPravonError* IPravonError::MakeStatic() {
    auto* e = new IPravonError();
    e->m_entries.push_back(Entry{FourCC("PRVN"), 0, 0, PravonKind::kOutOfMemory, "out of memory", 0});
    e->m_static = true;
    return e;
}

IPravonError* const IPravonError::s_outOfMemory = IPravonError::MakeStatic();

IPravonError* PravonFail(LONG component, LONG kind, const char* text, PravonSourceLocation at) {
    return IPravonError::Add(nullptr, component, static_cast<LONG>(at.line()), kind, text);
}

IPravonError* PravonFail(LONG component, LONG kind, const std::string& text, PravonSourceLocation at) {
    return PravonFail(component, kind, text.c_str(), at);
}

IPravonError* PravonContext(IPravonError* inner, LONG component, const char* text, PravonSourceLocation at) {
    if (!inner)
        return nullptr;
    return IPravonError::Add(inner, component, static_cast<LONG>(at.line()), text);
}

IPravonError* PravonContext(IPravonError* inner, LONG component, const std::string& text,
                            PravonSourceLocation at) {
    return PravonContext(inner, component, text.c_str(), at);
}

IPravonError* PravonLibraryFail(LONG component, LONG library, LONG result, PravonSourceLocation at) {
    return IPravonError::Add(nullptr, component, static_cast<LONG>(at.line()), library, result);
}
