// One decode of a camera raw file with LibRaw, inside the decoder program: the file is opened, checked,
// unpacked, and its samples and metadata written as the answer the loader reads. A file whose image data
// is cut short or damaged is answered as damaged, never as a picture.
#pragma once

#include "platform/quasel/KvRawDecoderAnswer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class LibRaw;

class CKvRawDecode {
public:
    // Over the file's bytes in memory.
    CKvRawDecode(const unsigned char* file, std::size_t size);
    // Over the file at `path`, read as LibRaw asks for it; `size` is the file's size.
    CKvRawDecode(std::string path, std::size_t size);

    // Decodes and writes the answer into the memory behind `answerDescriptor` (sized here); false only
    // when no answer could be written at all.
    bool Run(int answerDescriptor);

private:
    // Fills m_answer's metadata and the samples; a refusal sets the status and message instead.
    void Begin();
    void Decode();
    template <class Stream>
    void DecodeFrom(Stream& stream);
    void Refuse(std::uint32_t status, const std::string& why);
    // Sizes the answer for the samples; false (the decode refused) when it cannot be.
    bool BeginAnswer(std::size_t sampleBytes);
    // Writes bytes into the answer at `at`.
    bool Send(const void* bytes, std::size_t count, std::size_t at);
    // Writes `height` rows of `samplesPerRow` samples, each made by fill(y, out), a piece of rows at a time;
    // false (the decode refused) when they cannot be written.
    template <class Fill>
    bool SendRows(unsigned height, std::size_t samplesPerRow, const Fill& fill);
    void TakeMetadata(LibRaw& raw);

    const unsigned char* m_file = nullptr;
    std::string m_path;
    std::size_t m_size;
    KvRawDecoder::Answer m_answer{};
    int m_answerDescriptor = -1;
    bool m_answerWritten = false;
};
