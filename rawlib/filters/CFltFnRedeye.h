// Red-eye correction: red pupils are found by the red-eye library over the whole picture or near a clicked
// point, corrected in a full-picture working copy of the source, and kept as region lists that the
// settings record stores and loads. Tiles that meet a shown region come from the working copy, all others
// straight from the source.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/quasel/IPravonTagControl.h"
#include "platform/redeye/RedEye.h"
#include "platform/win/FourCC.h"
#include "rawlib/settings/CKvFnRedEye.h"

#include <memory>
#include <vector>

class CFltFnRedeye : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("FnRe");
    // What the library takes: how far from the click a pupil is looked for, and how far into a pupil's
    // reddish rim the correction reaches.
    static constexpr LONG kNearestRadius = 10;
    static constexpr LONG kCorrectionStrength = 30;

    // The two region lists, as the pipeline names them.
    enum RegionListId : LONG { kAutomaticList = 0, kManualList = 1 };

    // The host's progress callback: state 0 at the start, 1 while running, 2 at the end, a percentage, and
    // the context value the host gave; false asks to stop.
    using ProgressCallback = bool (*)(LONG state, LONG percent, LONG context);

    explicit CFltFnRedeye(IPravonManager* manager);
    ~CFltFnRedeye() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Redeye filter"; }

    // Reads the camera model, flash, focal length and subject distance that the library is told about;
    // once per picture, a later call does nothing.
    IPravonError* ReadCameraTags(IPravonTagControl* tags);
    // 0 off, 1 automatic, 2 manual (CKvFnRedEye's modes); the regions that leave or join the picture are
    // restored from the source or corrected.
    IPravonError* SetMode(LONG mode, bool notify);
    LONG GetMode() const { return m_mode; }
    // In manual mode the automatic regions stay corrected too.
    IPravonError* SetKeepAutomatic(BYTE keep, bool notify);
    // The point DetectAtPoint looks near, in output coordinates; it stays pending until then.
    void SetClickPoint(LONG x, LONG y);

    // Finds the pupils of the whole picture once; later calls only correct the regions found again.
    // Detection counts as done even when it failed or was stopped, so that it is not run over and over.
    IPravonError* DetectAuto(ProgressCallback progress, LONG context, bool notify);
    // With a point pending: manual mode, and the pupil nearest the point joins the manual regions.
    // That nothing is found there is no error.
    IPravonError* DetectAtPoint(bool notify);
    // Restores the manual regions from the source and forgets them.
    IPravonError* ClearRegions(bool notify);
    // Replaces a list by the regions stored in the settings; a stored region that the library refuses is
    // reported and skipped.
    IPravonError* LoadRegions(RegionListId which, CKvFnRedEye::RegionList& stored);
    // Appends the list's regions to the settings' list as saved bytes: with replaceAll every region
    // instead of the stored ones; else the last click's region (manual), or every region once automatic
    // detection has run and the settings hold none yet (automatic). A region that cannot be saved is
    // reported and not stored.
    IPravonError* GetRegions(RegionListId which, CKvFnRedEye::RegionList& stored, bool replaceAll);

    const ReList* GetRegionList(RegionListId which) const;
    bool IsAutomaticDone() const { return m_automaticDone; }
    // Null until the camera tags were read.
    const ReCameraInfo* GetCameraInfo() const { return m_camera.size ? &m_camera : nullptr; }

    // Any notification of the framework's own kinds may change the source's pixels or geometry: the
    // working copy is made again on its next use.
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }
    // A cache made anew starts from a working copy made anew.
    IPravonError* CheckCache() override;

private:
    // Which lists are corrected in the working copy.
    struct Shown {
        bool automatic = false;
        bool manual = false;
    };

    Shown ShownLists() const;
    ReList* ListOf(RegionListId which);
    // Restores the lists that stop being shown, corrects again those that stay, and applies those that
    // start.
    IPravonError* ChangeShown(const Shown& before, bool notify, bool notifyManual = false);
    // Makes the working copy again from the source when it is stale, with the shown lists corrected.
    IPravonError* RefreshCopy();
    // Corrects the list in the working copy; the regions' output is made again and, with notify,
    // announced. A stale copy is left to its refresh.
    IPravonError* Apply(const ReList& list, bool notify);
    // Copies the source's pixels of the list's regions back into the working copy, likewise.
    IPravonError* Restore(const ReList& list, bool notify);
    // Corrects the shown lists, or the ones named, in the working copy (after a restore, which also
    // undoes the corrections of other lists where regions overlap).
    IPravonError* CorrectShown();
    IPravonError* CorrectLists(bool automatic, bool manual);
    IPravonError* Correct(const ReList& list);
    // Marks the regions' output for making again and, with notify, announces each.
    IPravonError* Changed(const ReList& list, bool notify);
    IPravonError* ChangedRegion(const ReRegion& region, bool notify);
    // The filter's own first source, or null.
    IPravonDataSource* OwnSource() const;
    // The region's pixels in the picture, right and bottom exclusive; empty when it lies outside.
    CPravonRect PictureRect(const ReRegion& region) const;
    bool MeetsShownRegion(const PravonRect& tileRect) const;
    IPravonError* SaveRegion(const ReRegion& region, CKvFnRedEye::RegionList& stored);

    ReImage m_image{};
    std::vector<BYTE> m_copy;
    bool m_copyStale = true;
    LONG m_bytesPerPixel = 0;

    ReCameraInfo m_camera{};
    std::unique_ptr<char[]> m_model;

    ReList m_automatic{};
    ReList m_manual{};
    bool m_automaticDone = false;
    // In automatic mode: the automatic regions belong in the picture (detection or a kept list put them).
    bool m_automaticShown = false;
    BYTE m_keepAutomatic = 0;
    RePoint m_click{};
    bool m_pointPending = false;
    LONG m_mode = CKvFnRedEye::kModeOff;
};
