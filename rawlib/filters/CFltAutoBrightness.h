// Stretches the tonal range of an image between a black and a white level and shifts it by a brightness
// in 1/256 EV. The levels are measured per channel from an attached histogram filter, half a percent of
// the pixels clipped at each end, or set by the caller; its watchers hear kLevelsMeasured when they change.
#pragma once

#include "filters/CPravonFilterHistogram.h"
#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"
#include "rawlib/settings/IKvAutoBrightnessLevels.h"

class CFltAutoBrightness : public CPravonFilterBase, public IKvAutoBrightnessLevels {
public:
    static constexpr LONG kCode = FourCC("ABrt");
    // Levels are kept for this many channels; -1 marks a level not measured (and, in the channels after
    // the first, the end of the measured channels).
    static constexpr LONG kChannels = 4;
    static constexpr LONG kNotMeasured = -1;

    explicit CFltAutoBrightness(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Auto Brightness"; }

    // Stores the levels (16-bit scale) of one channel, or of all four for a negative channel; a channel of
    // kChannels or more gives PravonKind::kOutOfRange and changes nothing. They take effect while the
    // automatic mode is on; with notify the watchers hear kLevelsMeasured, then downstream a data change.
    IPravonError* SetLevels(LONG channel, LONG black, LONG white, bool notify);
    // One channel's level, or for a negative channel the lowest black (highest white) of the channels up
    // to the first unmeasured one after channel 0; -1 for a channel that does not exist.
    LONG GetBlackLevel(LONG channel) override;
    LONG GetWhiteLevel(LONG channel) override;
    // The brightness (1/256 EV) that maps the measured range to the full range, at most 512; 0 while the
    // levels are not measured or leave no range.
    LONG GetAutoBrightness() override;

    // On: the black level comes from the measured levels; off: it is 0.
    IPravonError* SetAuto(bool on, bool notify);
    bool GetAuto() const { return m_auto; }
    IPravonError* SetBrightness(LONG brightness, bool notify);
    LONG GetBrightness() const { return m_brightness; }

    // Attaches the histogram the levels are measured from (not owned: it stays attached until another one,
    // or none, is set) and measures them when it is complete. A different histogram forgets the levels.
    IPravonError* SetHistogram(CPravonFilterHistogram* histogram, bool notify);
    CPravonFilterHistogram* GetHistogram() const { return m_histogram; }
    // Measures the levels once the attached histogram is complete and tells the watchers; with notify,
    // in the automatic mode, downstream hears that the output changed.
    IPravonError* UpdateLevels(bool notify);

    // The attached histogram's completion measures the levels before the notification goes on.
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    // The black and white ends that the tiles map onto 0 and the full scale.
    struct Ends {
        LONG black = 0;
        LONG white = 65535;
    };
    Ends MappedEnds();
    void UpdatePassThrough() { SetPassThrough(!(m_brightness != 0 || m_auto)); }
    void ForgetLevels();

    CPravonFilterHistogram* m_histogram = nullptr;
    LONG m_black[kChannels];
    LONG m_white[kChannels];
    LONG m_brightness = 0;
    bool m_auto = false;
};
