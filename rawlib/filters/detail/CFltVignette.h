// The vignette filter: brightens the corners of an image to undo the light fall-off of the lens. From a
// model of the lens (its stops from the image's lens data, the f-number, the sensor size) it computes,
// once per image size and set of parameters, a table of gain codes for one quadrant of the image, then
// raises every sample by the gain its distance from the centre gives, scaled by the correction amount.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/detail/CVignetteLensModel.h"

#include <vector>

class CFltVignette : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("vgnt");
    // The sensor the model assumes until told another: 23.6 x 15.48 millimetres.
    static constexpr double kSensorWidth = 23.6;
    static constexpr double kSensorHeight = 15.48;
    static constexpr double kDefaultAmount = 0.5;

    explicit CFltVignette(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Vignette"; }

    // Every setter changes nothing when given the stored value; otherwise it stores it and, with notify,
    // announces the change over the whole output. All but SetAmount make the gain table again.
    //
    // The lens data's descriptor (CVignetteLensModel::kDescriptorSize bytes), or none (null).
    IPravonError* SetLensId(const BYTE* descriptor, bool notify);
    // The sensor diagonal in millimetres; the width and height become 0 (unknown).
    IPravonError* SetMagnitude(double diagonal, bool notify);
    // The sensor's width and height in millimetres; the diagonal follows from them.
    IPravonError* SetSensorSize(double width, double height, bool notify);
    // SetSensorSize(kSensorWidth, kSensorHeight, notify).
    IPravonError* ResetSensorSize(bool notify);
    IPravonError* SetFNumber(double fNumber, bool notify);
    // The share of the full correction applied, 1.0 for all of it; only the application changes.
    IPravonError* SetAmount(double amount, bool notify);
    // The factor that carries the image's distances from the centre to the sensor's (1 for square
    // pixels over the whole sensor).
    IPravonError* SetExtra(double scale, bool notify);

    bool HasLensId() const { return m_hasLens; }
    const CVignetteLensModel::Descriptor& GetLensId() const { return m_lens; }
    double GetSensorDiagonal() const { return m_diagonal; }
    double GetSensorWidth() const { return m_sensorWidth; }
    double GetSensorHeight() const { return m_sensorHeight; }
    double GetFNumber() const { return m_fNumber; }
    double GetAmount() const { return m_amount; }
    double GetExtra() const { return m_scale; }

protected:
    // Takes 8-bit grey, RGB, BGR and CMYK and 16-bit grey, RGB, LCh, Lab and YCbCr ("Bad source data
    // color space" with PravonKind::kUnsupportedColorSpace otherwise) and raises every channel.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }
    // A new size, or an update of everything, makes the gain table again.
    IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change) override;
    IPravonError* FilterUpdateAll(IPravonDataSource* source) override;

private:
    // Stores the change made by set, marks the output out of date and announces it.
    template <class Set>
    IPravonError* Change(bool refit, bool notify, Set&& set);
    IPravonError* Refit(LONG width, LONG height);

    CVignetteLensModel::Descriptor m_lens{};
    bool m_hasLens = false;
    double m_diagonal = 0;
    double m_sensorWidth = kSensorWidth;
    double m_sensorHeight = kSensorHeight;
    double m_fNumber = 0;
    double m_amount = kDefaultAmount;
    double m_scale = 1;
    bool m_refit = true;

    std::vector<WORD> m_gains;
    LONG m_tableWidth = 0;
    LONG m_tableHeight = 0;
};
