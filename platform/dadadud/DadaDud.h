// The document library: layout documents in the LDF format (LdfFormat.md beside this header) behind
// 32-bit handles with generations, their pages and items by index, and properties read by XPath relative
// to an object. Pages and items keep their document alive; a document may be read from several threads at
// once. Calls answer 1 for success and 0 for failure (a released, stale or foreign handle included); none
// throws. The library works between docStartup and the matching last docShutdown.
#pragma once

#include "platform/win/wintypes.h"

using DocHandle = DWORD;
// What a caller's handle cell holds when it names nothing.
constexpr DocHandle kDocNoHandle = 0xFFFFFFFF;

extern "C" {

// Counted: each start needs a shutdown, and the last shutdown releases every handle still held.
LONG docStartup();
LONG docShutdown();

// A file that is not well-formed XML, declares a document type (which is never fetched nor expanded), or
// is not an LDF document gives no handle.
LONG docCreateDocumentFromLDF(const wchar_t* path, DocHandle* document);
// A document filled from a layout template (LTF) with the objects of a bundle file (LtfFormat.md): each
// cluster is repeated once for every group of objects it binds, references are resolved, pages numbered
// from 1. Either file not well-formed, of the wrong kind or with a document type gives no handle.
LONG docCreateDocumentFromLTF(const wchar_t* templatePath, const wchar_t* bundlePath, DocHandle* document);
// The same, of the texts of two data sources (a template, then a bundle), which keep their own handles:
// they may be released as soon as the document was made. A handle that names no data source gives none.
LONG docCreateDocumentFromLTF2(DocHandle templateSource, DocHandle bundleSource, DocHandle* document);
// A document of an LDF text held by a data source (a layout stored elsewhere), which keeps its own handle:
// it may be released as soon as the document was made. A handle that names no data source, or a text that
// is not a well-formed LDF document, gives none.
LONG docCreateDocumentFromLDF2(DocHandle source, DocHandle* document);
// The document's content becomes the stylesheet's result of it (an LDF document), under the same handle;
// on any failure the document is unchanged. Parameters as for docXSLTTransform2. Handles of pages and
// items taken before keep reading the content they were taken from.
LONG docApplyTransform(DocHandle document, const wchar_t* stylesheet, const wchar_t* parameters);
// UTF-16 with a byte-order mark, replacing the file in one step: a failed save leaves the file as it was.
LONG docSaveLDF(DocHandle document, const wchar_t* path);

LONG docGetDocNbPages(DocHandle document, LONG* count);
// Indices count from 0.
LONG docGetPageByIndex(DocHandle document, LONG index, DocHandle* page);
LONG docGetItem(DocHandle page, LONG index, DocHandle* item);

// The value of an XPath expression evaluated at the object (a document's is its root element): the
// string value of the first node it selects, or the text of a number, string or boolean result. count
// holds the characters the buffer has room for besides the terminator; it receives the value's length
// (terminator not counted). The value and a terminator are copied only when they fit; a value that does
// not fit still answers 1, with the count it needs. An expression that fails or selects no node answers 0.
// The flag is reserved: pass 0.
LONG docGetPropertyValue(DocHandle object, const wchar_t* path, wchar_t* buffer, LONG* count, BYTE flag);

LONG docReleaseHandle(DocHandle handle);

// Editing the items of a page. An item made from the text of one "item" element belongs to the page's
// document, unlinked, until it is inserted (once) right after a linked item of that document. A removed item
// leaves the page but stays readable through its handles. A reader that holds an item handle is never left
// with a freed element.
LONG gdedCreateItemFromStr(DocHandle page, const wchar_t* text, DocHandle* item);
LONG gdedInsertAfter(DocHandle reference, DocHandle item);
LONG gdedRemoveItem(DocHandle item);

// Data sources: a text that a document is later made of, copied when the source is made (from the file
// at the path, as stored, or from the length characters of the text), so the source may be released
// as soon as the document was made. A missing, empty or over-large file or text gives no handle.
LONG docCreateDataSource(const wchar_t* path, DocHandle* source);
LONG docCreateDataSource2(const wchar_t* text, LONG length, DocHandle* source);

// Transforms the source document with the stylesheet and writes the result (in the stylesheet's output
// method and encoding) to the path, replacing the file in one step; a failed transform writes nothing.
// Both texts are wide and already decoded, so the encoding their declarations name ("utf-16") is the form
// they were kept in and not read again. The parameters are "name=value" pairs joined by "<;/>", split at
// every separator: a value whose first and last characters are the same quote (' or ") is a string,
// taken literally without its quotes; any other value is an XPath expression; an empty last pair is
// allowed. The transform reads no file and reaches no network (imports, includes and document() are
// refused, and so is writing documents), and neither text may declare a document type. The last argument
// is reserved: pass null.
LONG docXSLTTransform2(const wchar_t* source, const wchar_t* outPath, const wchar_t* stylesheet,
                       const wchar_t* parameters, void* reserved);

} // extern "C"
