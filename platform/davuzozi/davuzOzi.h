// The XML library of preference files: one XML document per handle (32-bit, with a generation), values read
// by XPath from the document's root element and written by simple element paths, saved in one step that
// never leaves a partial file. Calls answer 1 for success and 0 for failure (a released, stale or foreign
// handle included); none throws. The library works between utlStartup and the matching last utlShutdown.
#pragma once

#include "platform/win/wintypes.h"

using UtlHandle = DWORD;
// What a caller's handle cell holds when it names nothing.
constexpr UtlHandle kUtlNoHandle = 0xFFFFFFFF;

extern "C" {

// Counted: each start needs a shutdown, and the last shutdown releases every handle still held.
LONG utlStartup();
LONG utlShutdown();

// The document of the file at the path. A file that does not exist gives an empty document (a root
// element "root" and nothing else), written to the path by the first save; a file that exists but cannot
// be read, is larger than 16 MiB, is not well-formed XML or declares a document type (which is never
// fetched nor expanded) gives no handle, and stays as it is.
LONG utlCreateXmlDoc(const wchar_t* path, UtlHandle* document);

// The value of the XPath expression evaluated at the root element: the text of the first node it selects,
// or the text of a number (count(...) gives "3"), string or boolean. size holds the characters the buffer
// has room for, its terminator included, and receives the characters the value needs, its terminator
// included. A value that does not fit answers 0 and copies nothing; an expression that fails or selects
// no node answers 0 with size 0.
LONG utlGetXmlNodeValue(UtlHandle document, const wchar_t* key, wchar_t* buffer, LONG* size);

// Sets the text of the node that the path names below the root element: element names, each with an
// optional position ("layout[2]", from 1), the last one possibly an attribute ("@name"). A missing element
// is made when it would be the next of its name (position 1 when there is none, n when there are n - 1);
// the value replaces whatever the element held. A path of any other form, or a value with a character XML
// cannot hold, answers 0 and changes nothing.
LONG utlSetXmlNodeValue(UtlHandle document, const wchar_t* key, const wchar_t* value);

// Writes the document (UTF-8) to the path, or to the path it was made from when the path is null,
// replacing the file in one step: a failed save leaves the file as it was.
LONG utlSaveXmlDoc(UtlHandle document, const wchar_t* path);

LONG utlReleaseHandle(UtlHandle handle);

} // extern "C"
