// The context strings that the framework builds for renderer libraries: one wide string of key=value pairs,
// each ended by ';', with keys, order and number formats fixed, since the libraries parse them on their
// side. Reals are printed with six decimals in the C locale, 32-bit values as signed decimals, addresses
// (which the libraries use directly, in the same process) as unsigned 64-bit decimals. Each builder
// overwrites its output with the mandatory pairs and appends the optional ones given; optional arguments
// are absent when null. The readers take the strings apart the way the modules expect.
#pragma once

#include "GraphTypes.h"
#include "TFilePath.h"
#include "TString.h"

#include "platform/renderers/RendererApi.h"
#include "platform/win/WinUser.h"
#include "platform/zizoraz/zIzoRaz.h"

// "ldf_file_name", "doc_width", "doc_height"; then "scaleX", "scaleY".
bool BuildDocContext(const graphtypes::TSize_T<double>& size, const TString& ldfFileName, TString& out,
                     const graphtypes::TSize_T<double>* scale = nullptr);
// "hdc", "dst_left", "dst_top", "dst_width", "dst_height"; then "draw_ctx__width", "draw_ctx_height" (the
// two underscores are part of the key); then "scaleX", "scaleY".
bool BuildDrawContext(HDC dc, TString& out, const graphtypes::TRect_T<double>& destination,
                      const graphtypes::TSize_T<double>* drawContextSize = nullptr,
                      const graphtypes::TSize_T<double>* scale = nullptr);
// Without a page size "iProImg" alone. With one: "iProImg", "page_width", "page_height", the invalid
// rectangle ("page_invalidRect_left", "_top", "_right", "_bottom"; the whole page, its size truncated,
// when none is given), the viewport ("page_viewport_left" and "_top" 0, "_right" and "_bottom" the image's
// size in pixels); then, with a callback, "page_img_load_manager_cb" (the address of the word into which
// the callback has just been stored) and "page_img_load_manager_subscr_id". "page_switch=1" is appended
// whenever pageSwitch is set.
bool BuildPageContext(IproHandle image, TString& out, const graphtypes::TSize_T<double>* pageSize = nullptr,
                      const graphtypes::TRect_T<LONG>* invalidRect = nullptr,
                      RendrImageStateProc imageStateCallback = nullptr, LONG subscriberId = 0,
                      bool pageSwitch = false);
// "file_name" with the location's path; then "page_width", "page_height".
bool BuildFilePageContext(const TFilePath& location, TString& out,
                          const graphtypes::TSize_T<double>* pageSize = nullptr);
// The short page context: "iProImg"; then "page_width", "page_height". Always true.
bool BuildImagePageContext(IproHandle image, TString& out,
                           const graphtypes::TSize_T<double>* pageSize = nullptr);

// The word "page_img_load_manager_cb" names: one for the whole module, overwritten by each build.
RendrImageStateProc* ImageStateCallbackWord();

// The text between the first '=' after "file_name" and the first ';' after that; empty when any of the
// three is missing.
TString GetContextFileName(const TString& context);
// The numbers of "iProImg" and "hdc", found the same way; 0 when a search fails, when the text is empty,
// when it does not begin with a number, or when the number lies outside the 32-bit range.
LONG GetContextImageHandle(const TString& context);
LONG GetContextHdc(const TString& context);

// "The following error occurred:\r\n<code> - <the system's text for the code> ".
TString GetSystemErrorText(DWORD code);
