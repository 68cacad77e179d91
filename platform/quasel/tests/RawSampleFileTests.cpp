#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "platform/quasel/CPravonFileStream.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using namespace kvtest;

PravonFileStreamPtr NewStream() {
    IPravonFileStream* raw = nullptr;
    EXPECT_PV_OK(IPravonFileStream::CreateFileStream(&raw));
    return PravonFileStreamPtr(raw);
}

std::vector<BYTE> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

TEST(FileStream, WhatIsWrittenIsReadBackAndTheEndGivesShortReads) {
    TempFolder folder;
    const std::string path = folder.File("bytes.bin");
    auto out = NewStream();
    ASSERT_PV_OK(out->Open(PravonFile{path}, IPravonFileStream::kWrite));
    const std::vector<BYTE> bytes = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_PV_OK(out->Write(bytes.data(), 7));
    ULONGLONG size = 0;
    ASSERT_PV_OK(out->GetSize(&size));
    EXPECT_EQ(size, 7u);
    ASSERT_PV_OK(out->Close());
    EXPECT_FALSE(out->IsOpen());

    auto in = NewStream();
    ASSERT_PV_OK(in->Open(PravonFile{path}, IPravonFileStream::kRead));
    ASSERT_PV_OK(in->Seek(5));
    BYTE buffer[4] = {};
    ULONG done = 99;
    ASSERT_PV_OK(in->Read(buffer, 4, &done));
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(buffer[0], 6);
    EXPECT_EQ(buffer[1], 7);
    ULONGLONG at = 0;
    ASSERT_PV_OK(in->GetPosition(&at));
    EXPECT_EQ(at, 7u);
}

TEST(FileStream, FailuresCarryTheRuntimeErrorAndAClosedStreamRefusesWork) {
    TempFolder folder;
    auto stream = NewStream();
    PravonErrorPtr missing(stream->Open(PravonFile{folder.File("none.bin")}, IPravonFileStream::kRead));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->GetKind(), ENOENT);
    EXPECT_EQ(missing->GetEntry(0).secondary, CPravonFileStream::kRuntime);
    EXPECT_TRUE(PravonErrorPtr(stream->Open(PravonFile{folder.Path()}, IPravonFileStream::kRead)))
        << "a folder is not a file";
    BYTE b = 0;
    EXPECT_PV_KIND(stream->Read(&b, 1, nullptr), PravonKind::kInvalidState);
    EXPECT_PV_KIND(stream->Write(&b, 1), PravonKind::kInvalidState);
    EXPECT_PV_KIND(stream->Open(PravonFile{folder.File("x")}, 3), PravonKind::kBadArgument);
}

CKvRawSampleFile::Content SmallContent() {
    CKvRawSampleFile::Content content;
    content.width = 21;
    content.height = 13;
    for (LONG i = 0; i < 21 * 13; ++i)
        content.samples.push_back(static_cast<WORD>((i * 257) % 4096));
    content.hasCameraModel = true;
    content.cameraModel = 1025;
    content.tags.push_back({0xA302, 1, {0, 2, 0, 2, 0, 1, 1, 2}});
    content.tags.push_back({0x8000C, 4, std::vector<BYTE>(32, 0x3F)});
    content.tags.push_back({0x110, 2, {'K', 'V', '-', '1', 0}});
    return content;
}

std::string WriteSample(const TempFolder& folder, const CKvRawSampleFile::Content& content,
                        const std::string& name = "sample.kvraw") {
    const std::string path = folder.File(name);
    auto stream = NewStream();
    EXPECT_PV_OK(stream->Open(PravonFile{path}, IPravonFileStream::kWrite));
    EXPECT_PV_OK(CKvRawSampleFile::Write(stream.get(), content));
    EXPECT_PV_OK(stream->Close());
    return path;
}

struct Loaded {
    PravonImagePtr image;
    PravonTagControlPtr tags;
};

IPravonError* Load(CPravonMemoryManager& manager, const std::string& path, Loaded* loaded) {
    IPravonImage* image = nullptr;
    IPravonTagControl* tags = nullptr;
    IPravonError* e = CKvRawSampleLoad::LoadFile(&manager, PravonFile{path}, &image, &tags);
    loaded->image.reset(image);
    loaded->tags.reset(tags);
    return e;
}

TEST(RawSampleFile, ASampleComesBackWithItsMosaicTagsAndCameraModel) {
    TempFolder folder;
    const auto content = SmallContent();
    const std::string path = WriteSample(folder, content);
    CPravonMemoryManager manager(8);
    Loaded loaded;
    ASSERT_PV_OK(Load(manager, path, &loaded));

    TestPlane plane;
    ASSERT_PV_OK(PullAll(loaded.image.get(), &plane));
    ASSERT_EQ(plane.width, 21);
    ASSERT_EQ(plane.height, 13);
    EXPECT_EQ(plane.colorSpace, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < 13; ++y)
        for (LONG x = 0; x < 21; ++x)
            ASSERT_EQ(plane.Sample(x, y, 0), content.samples[static_cast<std::size_t>(y * 21 + x)])
                << x << ", " << y;

    for (const auto& tag : content.tags) {
        ASSERT_EQ(loaded.tags->GetTagSize(tag.tag), tag.value.size());
        EXPECT_EQ(loaded.tags->GetTagKind(tag.tag), tag.type);
        std::vector<BYTE> value(tag.value.size());
        ASSERT_PV_OK(loaded.tags->ReadTag(tag.tag, tag.type, static_cast<ULONG>(value.size()), value.data()));
        EXPECT_EQ(value, tag.value);
    }
    LONG width = 0;
    LONG height = 0;
    LONG colorSpace = 0;
    ASSERT_PV_OK(loaded.tags->ReadTag(0x10000, 3, 4, &width));
    ASSERT_PV_OK(loaded.tags->ReadTag(0x10001, 3, 4, &height));
    ASSERT_PV_OK(loaded.tags->ReadTag(0x10002, 4, 4, &colorSpace));
    EXPECT_EQ(width, 21);
    EXPECT_EQ(height, 13);
    EXPECT_EQ(colorSpace, PravonColorSpace::kRawMosaic16);
    WORD model = 0;
    ASSERT_PV_OK(loaded.tags->GetCameraModel(&model));
    EXPECT_EQ(model, 1025);
    EXPECT_EQ(loaded.tags->GetTagSize(0x829D), 0u);
}

TEST(RawSampleFile, ASampleWithoutACameraModelLeavesTheTagControlWithoutOne) {
    TempFolder folder;
    auto content = SmallContent();
    content.hasCameraModel = false;
    CPravonMemoryManager manager;
    Loaded loaded;
    ASSERT_PV_OK(Load(manager, WriteSample(folder, content), &loaded));
    WORD model = 7;
    EXPECT_TRUE(PravonErrorPtr(loaded.tags->GetCameraModel(&model)));
    EXPECT_EQ(model, 7);
}

TEST(RawSampleFile, TheLoaderFillsOneBandOfTileRowsPerStep) {
    TempFolder folder;
    const std::string path = WriteSample(folder, SmallContent());
    CPravonMemoryManager manager(4);
    auto stream = NewStream();
    ASSERT_PV_OK(stream->Open(PravonFile{path}, IPravonFileStream::kRead));
    IPravonLoad* raw = nullptr;
    ASSERT_PV_OK(IPravonLoad::CreateLoad(&raw));
    PravonLoadPtr load(raw);
    EXPECT_PV_KIND(load->Step(), PravonKind::kInvalidState);
    auto tags = PravonTagControlPtr(new CPravonTagControl());
    ASSERT_PV_OK(load->Open(stream.get(), tags.get()));
    IPravonImage* image = nullptr;
    ASSERT_PV_OK(manager.CreateImage(1, &image));
    PravonImagePtr owned(image);
    ASSERT_PV_OK(load->Begin(image));
    int steps = 0;
    while (!load->IsComplete()) {
        ASSERT_PV_OK(load->Step());
        ++steps;
    }
    EXPECT_EQ(steps, 4) << "13 rows in tiles of 4";
}

TEST(RawSampleFile, TheWriterRefusesContentNoReaderWouldTake) {
    TempFolder folder;
    auto stream = NewStream();
    ASSERT_PV_OK(stream->Open(PravonFile{folder.File("bad.kvraw")}, IPravonFileStream::kWrite));
    auto content = SmallContent();
    content.samples.pop_back();
    EXPECT_PV_KIND(CKvRawSampleFile::Write(stream.get(), content), PravonKind::kBadArgument);
    content = SmallContent();
    content.tags.push_back({0x10001, 4, {1, 0, 0, 0}});
    EXPECT_PV_KIND(CKvRawSampleFile::Write(stream.get(), content), PravonKind::kBadArgument);
    content = SmallContent();
    content.tags.push_back(content.tags[0]);
    EXPECT_PV_KIND(CKvRawSampleFile::Write(stream.get(), content), PravonKind::kBadArgument);
    content = SmallContent();
    content.width = 0;
    EXPECT_PV_KIND(CKvRawSampleFile::Write(stream.get(), content), PravonKind::kBadArgument);
    ULONGLONG size = 1;
    ASSERT_PV_OK(stream->GetSize(&size));
    EXPECT_EQ(size, 0u) << "nothing was written";
}

TEST(RawSampleFile, EveryTruncationIsRefusedAndLeavesTheTagControlAlone) {
    TempFolder folder;
    const std::vector<BYTE> whole = ReadFile(WriteSample(folder, SmallContent()));
    CPravonMemoryManager manager;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::string path =
            folder.Write("cut.kvraw", std::vector<std::uint8_t>(whole.begin(), whole.begin() + length));
        auto stream = NewStream();
        ASSERT_PV_OK(stream->Open(PravonFile{path}, IPravonFileStream::kRead));
        IPravonLoad* raw = nullptr;
        ASSERT_PV_OK(IPravonLoad::CreateLoad(&raw));
        PravonLoadPtr load(raw);
        auto tags = PravonTagControlPtr(new CPravonTagControl());
        ASSERT_PV_KIND(load->Open(stream.get(), tags.get()), PravonKind::kMissingInput) << length;
        EXPECT_EQ(static_cast<CPravonTagControl*>(tags.get())->GetTagCount(), 0u) << length;
    }
}

void Put32(std::vector<BYTE>& bytes, std::size_t at, ULONG v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<BYTE>(v >> (8 * i));
}

void Put64(std::vector<BYTE>& bytes, std::size_t at, ULONGLONG v) {
    Put32(bytes, at, static_cast<ULONG>(v));
    Put32(bytes, at + 4, static_cast<ULONG>(v >> 32));
}

TEST(RawSampleFile, FilesThatLieAboutTheirContentAreRefused) {
    TempFolder folder;
    const std::vector<BYTE> good = ReadFile(WriteSample(folder, SmallContent()));
    const ULONG size = static_cast<ULONG>(good.size());
    // Entry i of the tag table starts at 40 + 16 i.
    struct Lie {
        const char* what;
        std::function<void(std::vector<BYTE>&)> edit;
        LONG kind;
    };
    const std::vector<Lie> lies = {
        {"magic", [](auto& b) { b[0] = 'X'; }, PravonKind::kMissingInput},
        {"version 2", [](auto& b) { b[4] = 2; }, PravonKind::kMissingInput},
        {"header size 39", [](auto& b) { b[6] = 39; }, PravonKind::kMissingInput},
        {"header size past the end",
         [](auto& b) {
             b[6] = 0xFF;
             b[7] = 0xFF;
         },
         PravonKind::kMissingInput},
        {"width 0", [](auto& b) { Put32(b, 8, 0); }, PravonKind::kMissingInput},
        {"width 70000", [](auto& b) { Put32(b, 8, 70000); }, PravonKind::kMissingInput},
        {"more rows than stored", [](auto& b) { Put32(b, 12, 14); }, PravonKind::kMissingInput},
        {"a huge mosaic",
         [](auto& b) {
             Put32(b, 8, 65535);
             Put32(b, 12, 65535);
         },
         PravonKind::kMissingInput},
        {"an RGB colour space", [](auto& b) { Put32(b, 16, 0x10060201); },
         PravonKind::kUnsupportedColorSpace},
        {"unknown flags", [](auto& b) { b[22] = 3; }, PravonKind::kMissingInput},
        {"4097 tags", [](auto& b) { Put32(b, 24, 4097); }, PravonKind::kMissingInput},
        {"more tags than the table holds", [](auto& b) { Put32(b, 24, 200); }, PravonKind::kMissingInput},
        {"a table inside the header", [](auto& b) { Put32(b, 28, 8); }, PravonKind::kMissingInput},
        {"a table past the end", [size](auto& b) { Put32(b, 28, size - 8); }, PravonKind::kMissingInput},
        {"a plane offset that wraps", [](auto& b) { Put64(b, 32, ~0ull - 3); }, PravonKind::kMissingInput},
        {"a plane past the end", [size](auto& b) { Put64(b, 32, size - 10); }, PravonKind::kMissingInput},
        {"a value past the end", [size](auto& b) { Put32(b, 40 + 12, size - 4); }, PravonKind::kMissingInput},
        {"a value size that wraps", [](auto& b) { Put32(b, 40 + 8, 0xFFFFFFFF); }, PravonKind::kMissingInput},
        {"values sharing the whole file",
         [size](auto& b) {
             for (int i = 0; i < 3; ++i) {
                 Put32(b, 40 + 16 * i + 8, size);
                 Put32(b, 40 + 16 * i + 12, 0);
             }
         },
         PravonKind::kMissingInput},
        {"a tag twice", [](auto& b) { Put32(b, 40 + 16, 0xA302); }, PravonKind::kMissingInput},
        {"a source-size tag", [](auto& b) { Put32(b, 40, 0x10000); }, PravonKind::kMissingInput},
    };
    for (const auto& lie : lies) {
        std::vector<BYTE> bytes = good;
        lie.edit(bytes);
        const std::string path = folder.Write("lie.kvraw", bytes);
        CPravonMemoryManager manager;
        Loaded loaded;
        EXPECT_PV_KIND(Load(manager, path, &loaded), lie.kind) << lie.what;
        EXPECT_FALSE(loaded.image) << lie.what;
        EXPECT_FALSE(loaded.tags) << lie.what;
    }
}

} // namespace
