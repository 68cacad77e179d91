// The library's calls: each looks its handle up, works on the document under the document's lock, and
// answers 1 or 0; nothing thrown inside (memory shortage) gets past a call.
#include "DadaDud.h"

#include "CDocDataSource.h"
#include "CDocDocument.h"
#include "CDocTransform.h"
#include "CLtfFill.h"
#include "DadaDudTest.h"
#include "DocLibrary.h"

#include "platform/win/StandInLibrary.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/utf16.h"

#include <algorithm>
#include <cwchar>
#include <limits>
#include <optional>

namespace {

constexpr const char* kPageName = "page";
constexpr const char* kItemName = "item";

// What one handle names: a document (its root element), or one of its pages or items; or a data source,
// which has no document.
struct DocObject {
    enum class Kind { kDocument, kPage, kItem, kDataSource };
    Kind kind;
    std::shared_ptr<CDocDocument> document;
    xmlNodePtr node;
    std::shared_ptr<const CDocDataSource> source;
};

StandInLibrary<DocObject>& Library() {
    static auto* library = new StandInLibrary<DocObject>;
    return *library;
}

// The object's element, with the document's lock held: a document's is its current root, which a transform
// may have replaced.
xmlNodePtr NodeOf(const DocObject& object) {
    return object.kind == DocObject::Kind::kDocument ? object.document->Root() : object.node;
}

std::shared_ptr<DocObject> Find(DocHandle handle, DocObject::Kind kind) {
    std::shared_ptr<DocObject> object = Library().Find(handle);
    return object && object->kind == kind ? object : nullptr;
}

bool Add(DocObject object, DocHandle* out) {
    const DocHandle handle = Library().Add(std::make_shared<DocObject>(std::move(object)));
    if (handle == 0)
        return false;
    *out = handle;
    return true;
}

// A new handle for a document just made; false for no document.
bool AddDocument(std::shared_ptr<CDocDocument> document, DocHandle* out) {
    if (!document)
        return false;
    xmlNodePtr root = document->Root();
    return Add(DocObject{DocObject::Kind::kDocument, std::move(document), root, nullptr}, out);
}

template <class Body>
LONG Call(const char* name, DocHandle first, Body body) {
    Library().Observe(name, first);
    try {
        return body() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The index-th child element of the kind under the parent object, as a new handle.
bool ChildHandle(DocHandle parent, DocObject::Kind parentKind, const char* name, DocObject::Kind kind,
                 LONG index, DocHandle* out) {
    if (out)
        *out = kDocNoHandle;
    std::shared_ptr<DocObject> owner = Find(parent, parentKind);
    if (!owner || !out)
        return false;
    xmlNodePtr child;
    {
        std::lock_guard<std::mutex> guard(owner->document->Lock());
        child = CDocDocument::Child(NodeOf(*owner), name, index);
    }
    return child && Add(DocObject{kind, owner->document, child, nullptr}, out);
}

} // namespace

LONG docStartup() {
    return Call("docStartup", kDocNoHandle, [] {
        Library().Startup();
        return true;
    });
}

LONG docShutdown() {
    return Call("docShutdown", kDocNoHandle, [] { return Library().Shutdown(); });
}

LONG docCreateDocumentFromLDF(const wchar_t* path, DocHandle* document) {
    return Call("docCreateDocumentFromLDF", kDocNoHandle, [&] {
        if (document)
            *document = kDocNoHandle;
        std::vector<std::uint8_t> bytes;
        if (!document || !path || !Library().Started() ||
            !WinFileIO::ReadWholeFile(WinFileIO::NativePath(path), CDocDocument::kMaxFileBytes, bytes))
            return false;
        return AddDocument(CDocDocument::Parse(bytes.data(), bytes.size()), document);
    });
}

LONG docCreateDocumentFromLTF(const wchar_t* templatePath, const wchar_t* bundlePath, DocHandle* document) {
    return Call("docCreateDocumentFromLTF", kDocNoHandle, [&] {
        if (document)
            *document = kDocNoHandle;
        std::vector<std::uint8_t> ltf, bundle;
        if (!document || !templatePath || !bundlePath || !Library().Started() ||
            !WinFileIO::ReadWholeFile(WinFileIO::NativePath(templatePath), CDocDocument::kMaxFileBytes,
                                      ltf) ||
            !WinFileIO::ReadWholeFile(WinFileIO::NativePath(bundlePath), CDocDocument::kMaxFileBytes, bundle))
            return false;
        return AddDocument(
            CDocDocument::Adopt(CLtfFill::Fill(ltf.data(), ltf.size(), bundle.data(), bundle.size())),
            document);
    });
}

LONG docCreateDocumentFromLTF2(DocHandle templateSource, DocHandle bundleSource, DocHandle* document) {
    return Call("docCreateDocumentFromLTF2", templateSource, [&] {
        if (document)
            *document = kDocNoHandle;
        const std::shared_ptr<const CDocDataSource> ltf = DocLibrary::FindDataSource(templateSource);
        const std::shared_ptr<const CDocDataSource> bundle = DocLibrary::FindDataSource(bundleSource);
        if (!document || !ltf || !bundle)
            return false;
        const KvXmlTreePtr ltfTree = ltf->Parse();
        const KvXmlTreePtr bundleTree = bundle->Parse();
        return AddDocument(CDocDocument::Adopt(CLtfFill::Fill(ltfTree.get(), bundleTree.get())), document);
    });
}

LONG docCreateDocumentFromLDF2(DocHandle source, DocHandle* document) {
    return Call("docCreateDocumentFromLDF2", source, [&] {
        if (document)
            *document = kDocNoHandle;
        const std::shared_ptr<const CDocDataSource> text = DocLibrary::FindDataSource(source);
        if (!document || !text)
            return false;
        return AddDocument(CDocDocument::Adopt(text->Parse()), document);
    });
}

LONG docApplyTransform(DocHandle document, const wchar_t* stylesheet, const wchar_t* parameters) {
    return Call("docApplyTransform", document, [&] {
        std::shared_ptr<DocObject> target = Find(document, DocObject::Kind::kDocument);
        if (!target || !stylesheet)
            return false;
        // Held throughout, so that nothing changed meanwhile is lost with the replaced content.
        std::lock_guard<std::mutex> guard(target->document->Lock());
        std::vector<std::uint8_t> stored;
        if (!target->document->Serialize(stored) || stored.size() < 2)
            return false;
        const std::wstring source =
            Utf::Utf16ToWide(Utf::Utf16FromLEBytes(stored.data() + 2, stored.size() - 2));
        std::vector<std::uint8_t> result;
        if (!CDocTransform::Run(source, stylesheet, parameters ? parameters : L"", result))
            return false;
        return target->document->ReplaceTree(KvXmlParse(result.data(), result.size()));
    });
}

LONG docSaveLDF(DocHandle document, const wchar_t* path) {
    return Call("docSaveLDF", document, [&] {
        std::shared_ptr<DocObject> source = Find(document, DocObject::Kind::kDocument);
        if (!source || !path)
            return false;
        std::vector<std::uint8_t> bytes;
        {
            std::lock_guard<std::mutex> guard(source->document->Lock());
            if (!source->document->Serialize(bytes))
                return false;
        }
        return WinFileIO::WriteWholeFile(WinFileIO::NativePath(path), bytes.data(), bytes.size(), true);
    });
}

LONG docGetDocNbPages(DocHandle document, LONG* count) {
    return Call("docGetDocNbPages", document, [&] {
        std::shared_ptr<DocObject> source = Find(document, DocObject::Kind::kDocument);
        if (!source || !count)
            return false;
        std::lock_guard<std::mutex> guard(source->document->Lock());
        *count = CDocDocument::CountChildren(NodeOf(*source), kPageName);
        return true;
    });
}

LONG docGetPageByIndex(DocHandle document, LONG index, DocHandle* page) {
    return Call("docGetPageByIndex", document, [&] {
        return ChildHandle(document, DocObject::Kind::kDocument, kPageName, DocObject::Kind::kPage, index,
                           page);
    });
}

LONG docGetItem(DocHandle page, LONG index, DocHandle* item) {
    return Call("docGetItem", page, [&] {
        return ChildHandle(page, DocObject::Kind::kPage, kItemName, DocObject::Kind::kItem, index, item);
    });
}

LONG docGetPropertyValue(DocHandle object, const wchar_t* path, wchar_t* buffer, LONG* count, BYTE) {
    return Call("docGetPropertyValue", object, [&] {
        std::shared_ptr<DocObject> source = Library().Find(object);
        if (!source || !source->document || !path || !count || *count < 0)
            return false;
        std::optional<std::wstring> value;
        {
            std::lock_guard<std::mutex> guard(source->document->Lock());
            value = source->document->Evaluate(NodeOf(*source), path);
        }
        if (!value || value->size() > static_cast<std::size_t>(std::numeric_limits<LONG>::max() - 1))
            return false;
        const LONG length = static_cast<LONG>(value->size());
        if (buffer && length <= *count) {
            std::copy(value->begin(), value->end(), buffer);
            buffer[length] = L'\0';
        }
        *count = length;
        return true;
    });
}

LONG docXSLTTransform2(const wchar_t* source, const wchar_t* outPath, const wchar_t* stylesheet,
                       const wchar_t* parameters, void*) {
    return Call("docXSLTTransform2", kDocNoHandle, [&] {
        if (!source || !outPath || !*outPath || !stylesheet || !Library().Started())
            return false;
        std::vector<std::uint8_t> result;
        if (!CDocTransform::Run(source, stylesheet, parameters ? parameters : L"", result))
            return false;
        return WinFileIO::WriteWholeFile(WinFileIO::NativePath(outPath), result.data(), result.size(), true);
    });
}

LONG gdedCreateItemFromStr(DocHandle page, const wchar_t* text, DocHandle* item) {
    return Call("gdedCreateItemFromStr", page, [&] {
        if (item)
            *item = kDocNoHandle;
        std::shared_ptr<DocObject> owner = Find(page, DocObject::Kind::kPage);
        if (!owner || !text || !item)
            return false;
        xmlNodePtr node;
        {
            std::lock_guard<std::mutex> guard(owner->document->Lock());
            node = owner->document->CreateItem(text);
        }
        return node && Add(DocObject{DocObject::Kind::kItem, owner->document, node, nullptr}, item);
    });
}

LONG gdedInsertAfter(DocHandle reference, DocHandle item) {
    return Call("gdedInsertAfter", reference, [&] {
        std::shared_ptr<DocObject> before = Find(reference, DocObject::Kind::kItem);
        std::shared_ptr<DocObject> added = Find(item, DocObject::Kind::kItem);
        if (!before || !added || before->document != added->document)
            return false;
        std::lock_guard<std::mutex> guard(before->document->Lock());
        return before->document->InsertAfter(before->node, added->node);
    });
}

LONG gdedRemoveItem(DocHandle item) {
    return Call("gdedRemoveItem", item, [&] {
        std::shared_ptr<DocObject> target = Find(item, DocObject::Kind::kItem);
        if (!target)
            return false;
        std::lock_guard<std::mutex> guard(target->document->Lock());
        return target->document->RemoveItem(target->node);
    });
}

LONG docReleaseHandle(DocHandle handle) {
    return Call("docReleaseHandle", handle, [&] { return Library().Release(handle); });
}

void DadaDudTest::SetCallObserver(std::function<void(const char* call, DocHandle first)> observer) {
    Library().SetObserver(std::move(observer));
}

std::size_t DadaDudTest::LiveHandles() {
    return Library().Count();
}

void DocLibrary::Observe(const char* call, DocHandle first) {
    Library().Observe(call, first);
}

bool DocLibrary::AddDataSource(std::shared_ptr<const CDocDataSource> source, DocHandle* out) {
    return source && Add(DocObject{DocObject::Kind::kDataSource, nullptr, nullptr, std::move(source)}, out);
}

std::shared_ptr<const CDocDataSource> DocLibrary::FindDataSource(DocHandle handle) {
    std::shared_ptr<DocObject> object = Find(handle, DocObject::Kind::kDataSource);
    return object ? object->source : nullptr;
}
