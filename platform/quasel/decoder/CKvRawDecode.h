// One decode of a camera raw file with LibRaw, inside the decoder program: the file is opened, checked,
// unpacked, and its samples and metadata written as the answer the loader reads. A file whose image data
// is cut short or damaged is answered as damaged, never as a picture.
#pragma once

#include "platform/quasel/KvRawDecoderAnswer.h"

#include <cstddef>
#include <string>

class LibRaw;

class CKvRawDecode {
public:
    CKvRawDecode(const unsigned char* file, std::size_t size);

    // Decodes and writes the answer into the memory behind `answerDescriptor` (sized here); false only
    // when no answer could be written at all.
    bool Run(int answerDescriptor);

private:
    // Fills m_answer's metadata and writes the samples; a refusal sets the status and message instead.
    void Decode(int answerDescriptor);
    void Refuse(std::uint32_t status, const std::string& why);
    bool WriteAnswer(int answerDescriptor, std::size_t sampleBytes, unsigned char** samples);
    void TakeMetadata(LibRaw& raw);

    const unsigned char* m_file;
    std::size_t m_size;
    KvRawDecoder::Answer m_answer{};
    bool m_answerWritten = false;
};
