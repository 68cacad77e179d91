#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TContextParser.h"

#include "platform/renderers/RendrContext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

std::wstring Text(const TString& text) {
    return static_cast<const wchar_t*>(text);
}

HDC DcOf(std::uintptr_t id) {
    return reinterpret_cast<HDC>(id);
}

LONG StubImageState(const wchar_t*, LONG, LONG, LONG, LONG, LONG, const void*) {
    return 1;
}

TEST(ContextStrings, DocumentAndDrawingContextsAreWrittenPairByPair) {
    const TSize_T<double> docSize(2100.5, 2970);
    const TSize_T<double> scale(0.5, 2);
    const TSize_T<double> drawSize(800, 600.25);
    const TRect_T<double> destination(10, 20, 110.25, 220);
    TString out;
    BuildDocContext(docSize, L"/layouts/sheet_ltf.xml", out);
    EXPECT_EQ(Text(out),
              L"ldf_file_name=/layouts/sheet_ltf.xml;doc_width=2100.500000;doc_height=2970.000000;");
    BuildDocContext(docSize, L"a.ldf", out, &scale);
    EXPECT_EQ(Text(out), L"ldf_file_name=a.ldf;doc_width=2100.500000;doc_height=2970.000000;"
                         L"scaleX=0.500000;scaleY=2.000000;");

    const std::wstring drawn = L"hdc=4660;dst_left=10.000000;dst_top=20.000000;dst_width=100.250000;"
                               L"dst_height=200.000000;";
    BuildDrawContext(DcOf(0x1234), out, destination);
    EXPECT_EQ(Text(out), drawn);
    BuildDrawContext(DcOf(0x1234), out, destination, &drawSize);
    EXPECT_EQ(Text(out), drawn + L"draw_ctx__width=800.000000;draw_ctx_height=600.250000;");
    BuildDrawContext(DcOf(0x1234), out, destination, &drawSize, &scale);
    EXPECT_EQ(Text(out), drawn + L"draw_ctx__width=800.000000;draw_ctx_height=600.250000;"
                                 L"scaleX=0.500000;scaleY=2.000000;");
    BuildDrawContext(DcOf(0x1234), out, destination, nullptr, &scale);
    EXPECT_EQ(Text(out), drawn + L"scaleX=0.500000;scaleY=2.000000;");
    // A 32-bit handle with its high bit set prints as the signed 32-bit value and reads back as it.
    BuildDrawContext(DcOf(0x80000005u), out, destination);
    EXPECT_EQ(Text(out).substr(0, 16), L"hdc=-2147483643;");
    EXPECT_EQ(static_cast<DWORD>(GetContextHdc(out)), 0x80000005u);
}

TEST(ContextStrings, PageContextsWithEveryOptionalPart) {
    ASSERT_EQ(iproStartup(), 1);
    IproHandle image = kIproNoHandle;
    ASSERT_EQ(iproCreateImage(64, 48, &image), 1);
    const std::wstring id = std::to_wstring(static_cast<LONG>(image));
    const TSize_T<double> size(100.6, 50.2);
    const TRect_T<LONG> invalid(5, 6, 30, 40);
    const std::wstring sized = L"iProImg=" + id + L";page_width=100.600000;page_height=50.200000;";
    const std::wstring viewport = L"page_viewport_left=0;page_viewport_top=0;page_viewport_right=64;"
                                  L"page_viewport_bottom=48;";
    const std::wstring callback =
        L"page_img_load_manager_cb=" +
        std::to_wstring(reinterpret_cast<std::uintptr_t>(ImageStateCallbackWord())) +
        L";page_img_load_manager_subscr_id=9;";
    const struct {
        const TSize_T<double>* size;
        const TRect_T<LONG>* invalid;
        RendrImageStateProc callback;
        bool pageSwitch;
        std::wstring expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, false, L"iProImg=" + id + L";"},
        {nullptr, nullptr, nullptr, true, L"iProImg=" + id + L";page_switch=1;"},
        // Without a size the callback is not written.
        {nullptr, nullptr, &StubImageState, true, L"iProImg=" + id + L";page_switch=1;"},
        // The default invalid rectangle is the page, its size truncated.
        {&size, nullptr, nullptr, false,
         sized +
             L"page_invalidRect_left=0;page_invalidRect_top=0;page_invalidRect_right=100;"
             L"page_invalidRect_bottom=50;" +
             viewport},
        {&size, &invalid, nullptr, false,
         sized +
             L"page_invalidRect_left=5;page_invalidRect_top=6;page_invalidRect_right=30;"
             L"page_invalidRect_bottom=40;" +
             viewport},
        {&size, &invalid, &StubImageState, true,
         sized +
             L"page_invalidRect_left=5;page_invalidRect_top=6;page_invalidRect_right=30;"
             L"page_invalidRect_bottom=40;" +
             viewport + callback + L"page_switch=1;"},
    };
    for (const auto& c : cases) {
        TString out = L"overwritten";
        BuildPageContext(image, out, c.size, c.invalid, c.callback, 9, c.pageSwitch);
        EXPECT_EQ(Text(out), c.expected);
    }
    EXPECT_EQ(RendrLoadImageStateProc(ImageStateCallbackWord()), &StubImageState)
        << "the word holds the callback just given";

    // An image the canvas library does not know has no viewport.
    TString out;
    BuildPageContext(0x80000001u, out, &size, &invalid);
    EXPECT_EQ(Text(out).substr(0, 21), L"iProImg=-2147483647;p");
    EXPECT_NE(Text(out).find(L"page_viewport_right=0;page_viewport_bottom=0;"), std::wstring::npos);
    EXPECT_EQ(static_cast<DWORD>(GetContextImageHandle(out)), 0x80000001u);
    iproReleaseHandle(image);
    iproShutdown();
}

TEST(ContextStrings, FilePageAndShortPageContexts) {
    TFilePath location;
    location.Set(L"/tmp/Korvel/Design/design_p1.png");
    const TSize_T<double> size(640, 480);
    TString out;
    BuildFilePageContext(location, out);
    EXPECT_EQ(Text(out), L"file_name=/tmp/Korvel/Design/design_p1.png;");
    BuildFilePageContext(location, out, &size);
    EXPECT_EQ(Text(out),
              L"file_name=/tmp/Korvel/Design/design_p1.png;page_width=640.000000;page_height=480.000000;");
    EXPECT_TRUE(BuildImagePageContext(7, out, &size));
    EXPECT_EQ(Text(out), L"iProImg=7;page_width=640.000000;page_height=480.000000;");
    EXPECT_TRUE(BuildImagePageContext(7, out));
    EXPECT_EQ(Text(out), L"iProImg=7;");
}

// Addresses travel as unsigned 64-bit decimals and come back whole, also above 2^32.
TEST(ContextStrings, AddressesRoundTripThroughTheRenderersReading) {
    const TSize_T<double> size(10, 10);
    TString out;
    BuildPageContext(1, out, &size, nullptr, &StubImageState, 3);
    EXPECT_EQ(RendrContext(out).Address(L"page_img_load_manager_cb"), ImageStateCallbackWord());

    // The cancel event of a renderer on the stack, which lies far above 2^32.
    {
        TAsyncRenderer renderer;
        auto* request = new TRndrData;
        request->m_context = L"iProImg=1;";
        EXPECT_TRUE(renderer.QueueRequest(request));
        const std::wstring context = Text(request->m_context);
        EXPECT_EQ(context.rfind(L"iProImg=1;cancel_event=", 0), 0u);
        EXPECT_NE(context.back(), L';') << "the cancel pair ends the string without a semicolon";
        const void* address = RendrContext(request->m_context).Address(L"cancel_event");
        const auto value = reinterpret_cast<std::uintptr_t>(address);
        EXPECT_GT(value, std::uintptr_t{0xFFFFFFFF});
        const auto begin = reinterpret_cast<std::uintptr_t>(&renderer);
        EXPECT_TRUE(value >= begin && value < begin + sizeof(renderer))
            << "the address is the renderer's own";
        const HANDLE handle = RendrSyncObjectHandle(address);
        ASSERT_NE(handle, 0u);
        EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT) << "a cancel event that is not signalled";
        request->Release();
    }
    const wchar_t* big = L"a=18446744073709551615;b=4294967297;c=-1;d=12x;";
    RendrContext parsed(big);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(parsed.Address(L"a")), UINTPTR_MAX);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(parsed.Address(L"b")), std::uintptr_t{0x100000001});
    EXPECT_EQ(parsed.Address(L"c"), nullptr);
    EXPECT_EQ(parsed.Address(L"d"), nullptr);
}

TEST(ContextParser, KeysAreFoundAsPlainSubstringsAndValuesEndAtACommaOrSemicolon) {
    const TString page = L"iProImg=123;page_width=100.600000;page_height=50.200000;file_name=a,b.png;tail";
    TContextParser parser(page);
    LONG number = -1;
    double real = -1;
    TString text;
    EXPECT_TRUE(parser.GetLong(L"iProImg", number));
    EXPECT_EQ(number, 123);
    EXPECT_TRUE(parser.GetDouble(L"width", real)) << "the tail of page_width";
    EXPECT_DOUBLE_EQ(real, 100.6);
    EXPECT_TRUE(parser.GetString(L"file_name", text));
    EXPECT_EQ(Text(text), L"a");
    EXPECT_FALSE(parser.GetString(L"missing", text));
    EXPECT_FALSE(parser.GetLong(L"missing", number));
    EXPECT_FALSE(parser.GetDouble(L"missing", real));
    // A key at the very end has an empty value.
    EXPECT_TRUE(parser.GetString(L"tail", text));
    EXPECT_EQ(Text(text), L"");

    const struct {
        const wchar_t* context;
        bool found;
        LONG value;
    } longs[] = {
        {L"x=abc;", true, 0},
        {L"x=;", true, 0},
        {L"x=-2147483648;", true, INT32_MIN},
        {L"x=2147483647;", true, INT32_MAX},
        {L"x=2147483648;", false, 0},
        {L"x=-2147483649;", false, 0},
        {L"x=99999999999999999999;", false, 0},
        {L"x=42", true, 42},
    };
    for (const auto& c : longs) {
        LONG value = -7;
        EXPECT_EQ(TContextParser(c.context).GetLong(L"x", value), c.found) << c.context;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.context;
        }
    }
    const struct {
        const wchar_t* context;
        bool found;
        double value;
    } doubles[] = {
        {L"x=0.5;", true, 0.5},
        {L"x=-12.25,", true, -12.25},
        {L"x=none;", true, 0},
        {L"x=1e999;", false, 0},
    };
    for (const auto& c : doubles) {
        double value = -7;
        EXPECT_EQ(TContextParser(c.context).GetDouble(L"x", value), c.found) << c.context;
        if (c.found) {
            EXPECT_DOUBLE_EQ(value, c.value) << c.context;
        }
    }
}

TEST(ContextParser, FileNameImageHandleAndHdcNeedTheirSemicolon) {
    const struct {
        const wchar_t* context;
        const wchar_t* fileName;
        LONG image;
        LONG hdc;
    } cases[] = {
        {L"file_name=/tmp/p.png;page_width=1.000000;", L"/tmp/p.png", 0, 0},
        {L"page_width=1.000000;file_name=/tmp/p.png", L"", 0, 0},
        {L"file_name=/a=b;", L"/a=b", 0, 0},
        {L"iProImg=123;page_width=640.000000;", L"", 123, 0},
        {L"page_width=640.000000;iProImg=123", L"", 0, 0},
        {L"iProImg=;", L"", 0, 0},
        {L"iProImg=abc;", L"", 0, 0},
        {L"iProImg= 42;", L"", 42, 0},
        {L"iProImg=4294967296;", L"", 0, 0},
        {L"hdc=-5;dst_left=0.000000;", L"", 0, -5},
        {L"hdc=2147483648;", L"", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(GetContextFileName(c.context)), c.fileName) << c.context;
        EXPECT_EQ(GetContextImageHandle(c.context), c.image) << c.context;
        EXPECT_EQ(GetContextHdc(c.context), c.hdc) << c.context;
    }
}

TEST(ContextStrings, SystemErrorTextsNameTheCodeAndTheSystemsMessage) {
    EXPECT_EQ(Text(GetSystemErrorText(5)), L"The following error occurred:\r\n5 - Access is denied.\r\n ");
    EXPECT_EQ(Text(GetSystemErrorText(0x7FFFFFFF)), L"The following error occurred:\r\n2147483647 -  ");
}

} // namespace
