// Runs the camera raw decoder program on one file and reads what it answers. The program works in a
// process of its own, under limits of memory, processor time and answer size, with no descriptor of ours
// but the three it needs, and is killed when it passes its wall-clock deadline; whatever it answers is
// read as untrusted bytes.
#pragma once

#include "KvRawDecoderAnswer.h"
#include "platform/pravon/IPravonError.h"
#include "platform/win/FourCC.h"
#include "platform/win/wintypes.h"

#include <cstddef>
#include <memory>
#include <string>

class IPravonFileStream;

// A decoded file: the checked answer, and its samples left in the answer's memory, read from it on demand
// for as long as this lives.
class CKvRawDecodedFile {
public:
    // Takes the answer's descriptor.
    CKvRawDecodedFile(const KvRawDecoder::Answer& answer, int descriptor);
    ~CKvRawDecodedFile();
    CKvRawDecodedFile(const CKvRawDecodedFile&) = delete;
    CKvRawDecodedFile& operator=(const CKvRawDecodedFile&) = delete;

    const KvRawDecoder::Answer& GetAnswer() const { return m_answer; }
    // width x height x channels samples, row after row.
    std::size_t GetSampleCount() const;
    // Reads `count` samples from sample `first` on into `to`; false when they are not all there or cannot
    // be read.
    bool ReadSamples(std::size_t first, std::size_t count, WORD* to) const;

private:
    KvRawDecoder::Answer m_answer;
    int m_descriptor;
};

class CKvRawDecoderProcess {
public:
    static constexpr LONG kComponent = FourCC("KvRD");
    static constexpr const char* kProgramName = "quasel-raw-decoder";
    static constexpr double kDefaultDeadlineSeconds = 60.0;

    struct Settings {
        // Empty: the program beside this library.
        std::string program;
        double deadlineSeconds = kDefaultDeadlineSeconds;
    };
    // Process-wide; tests point them at programs that misbehave, or shorten the deadline.
    static void Configure(const Settings& settings);
    static Settings GetSettings();
    // The program installed beside this library.
    static std::string DefaultProgram();

    // Hands the stream's `size` bytes to the program and reads its answer. A file the program refuses, or
    // any crash, limit, deadline or malformed answer, fails with PravonKind::kMissingInput and a message
    // that names the cause; nothing is kept then.
    static IPravonError* Decode(IPravonFileStream* stream, ULONGLONG size,
                                std::unique_ptr<CKvRawDecodedFile>* out);

    // The checks the loader makes of an answer of `answerBytes` bytes for a file of `fileBytes`: an empty
    // text when it may be used, else what is wrong with it.
    static std::string CheckAnswer(const KvRawDecoder::Answer& answer, std::size_t answerBytes,
                                   ULONGLONG fileBytes);
    // The same for a decoded file's samples: none may lie above the white level.
    static std::string CheckSamples(const CKvRawDecodedFile& file);
};
