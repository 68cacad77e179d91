// The demo host's development through the exported filter-chain object: the sample opened through the I/O
// library, the object initialised on it with its stored settings, the chain's output pulled tile by tile.
// The mosaic of camera models 513 to 516 is first converted by the exported raw processor, whose image is
// then the chain's source.
#pragma once

#include "platform/pravon/CPravonMemoryManager.h"
#include "rawlib/pipeline/IKvnFilterChain.h"
#include "rawlib/pipeline/IKvnProcessRawVendor1.h"

class CKvBrightness;
class CKvPictureWriter;
class CKvnFilterChain;

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CKvChainDevelop {
public:
    CKvChainDevelop();
    ~CKvChainDevelop();
    CKvChainDevelop(const CKvChainDevelop&) = delete;
    CKvChainDevelop& operator=(const CKvChainDevelop&) = delete;

    // The picture of the file, with its stored settings; a picture opened before goes, and its tile memory
    // serves the next one's.
    IPravonError* Open(const std::string& samplePath);
    // The chain's output as 8-bit RGB; the object builds the chain on the first call.
    IPravonError* Develop(std::vector<BYTE>* rgb, LONG* width, LONG* height,
                          const std::function<void(LONG, LONG)>& progress);
    // One band of the output: count rows from `top` of the width x height picture, 16-bit RGB samples
    // (display-encoded), rowWords apart.
    struct CBand {
        const WORD* rows = nullptr;
        LONG top = 0;
        LONG count = 0;
        std::size_t rowWords = 0;
        LONG width = 0;
        LONG height = 0;
    };
    using Band = std::function<IPravonError*(const CBand& band)>;
    // The chain's output band after band from the top, a row of its tiles at a time, so that no copy of
    // the whole picture is made; progress hears (tiles done, tiles in all).
    IPravonError* DevelopBands(const Band& band, LONG* width, LONG* height,
                               const std::function<void(LONG, LONG)>& progress);
    // Develops into a picture file, PNG, JPEG or 16-bit TIFF by its name (CKvPictureWriter), with the output
    // profile embedded; no file is left when the development or the writing fails.
    IPravonError* DevelopInto(const std::string& path, LONG* width, LONG* height,
                              const std::function<void(LONG, LONG)>& progress);
    // The same through a writer of the caller's (one of other settings).
    IPravonError* DevelopInto(CKvPictureWriter& writer, const std::string& path, LONG* width, LONG* height,
                              const std::function<void(LONG, LONG)>& progress);
    // Whether the chain's lookup-table stages let the stages after them read through them (on at first,
    // see CPravonFilterLut::SetReadThrough); off, each makes its own tiles, as the reference the composed
    // development is measured against. Applies from the next development on.
    void SetReadThrough(bool allowed) { m_readThrough = allowed; }
    // Whether each picture is developed once only, as a batch develops them (off at first): the stages then
    // keep the memory of a few bands of their tiles rather than of the whole picture, so that a development
    // touches far less memory; a further development makes every tile again. Applies from the next
    // development on.
    void SetSinglePass(bool once) { m_singlePass = once; }
    // The tile memory kept for the next images: what the last picture's images left behind and the next
    // ones have not taken yet.
    std::size_t GetKeptTileMemory() { return m_manager.GetTilePool().GetPooledBytes(); }
    // The exposure raw option: the stored exposure replaced by `ev`.
    IPravonError* SetExposure(double ev);
    // The demo's modes: linear scaling (averaged over areas when it shrinks) and the standard or the
    // high-quality demosaicing.
    IPravonError* SetModes(bool highQuality);
    // A clockwise turn of the output by 0, 90, 180 or 270 degrees and its size as a factor of the picture's;
    // kOutOfRange for another turn or a factor that is not above 0.
    IPravonError* SetOutput(LONG degrees, double scale);
    // Automatic brightness, measured as a host that shows the output's histogram measures it: the chain's
    // histogram stage counts the picture, then the brightness stage takes the levels it found.
    IPravonError* SetAutoBrightness();
    // The levels the automatic brightness measured; null before SetAutoBrightness.
    const CKvBrightness* GetBrightness() const;
    // The noise reduction settings' moire level (0 off, 1 to 3) and fine-edge flag.
    IPravonError* SetMoireAndFineEdge(LONG moireLevel, bool fineEdge);
    // The noise reduction settings' colour-noise level (0 off, 1 to 10).
    IPravonError* SetColorNoise(LONG level);
    // The vignette correction's amount in percent (100 corrects fully, 0 is off).
    IPravonError* SetVignette(SHORT amount);
    // The sharpening list made one unsharp mask of `radius` pixels (0 to 100) and `power` (above 0, at most
    // 10), in place of what the picture's settings hold.
    IPravonError* SetSharpening(double radius, double power);
    // The exposure change of the picture's settings, in EV.
    IPravonError* GetStoredExposure(double* ev);
    // The path of the colour profile the output's colours are in: the one the chain converted to, or the
    // input profile when no conversion was needed (empty before a development).
    std::string OutputProfile() const;
    // The path of the colour profile the chain converted the picture's samples from (empty before a
    // development).
    std::string InputProfile() const;
    // How the chain stood the picture: a mirror (applied first) and a clockwise turn in degrees; false
    // before a development.
    bool Orientation(bool* mirrored, double* clockwise) const;
    // Forgets the tiles the stages have computed so far.
    void ResetStageCounts();
    // (stage, tiles computed since the last reset) of every working stage, in processing order.
    std::vector<std::pair<int, std::uint64_t>> StageCounts() const;

private:
    // Changes the open sample's settings and updates the chain by `mask`; kInvalidState when no sample is
    // open, or the error `change` answers, with nothing updated.
    IPravonError* ChangeSettings(DWORD mask, const std::function<IPravonError*(CKvnFilterChain&)>& change);

    // Reaches every lookup-table stage of the built chain, and every stage's cache for the single pass.
    void ApplyReadThrough();

    CPravonMemoryManager m_manager;
    bool m_readThrough = true;
    bool m_singlePass = false;
    PravonImagePtr m_image;
    PravonTagControlPtr m_tags;
    IKvnProcessRawVendor1* m_processor = nullptr;
    IKvnFilterChain* m_object = nullptr;
};
