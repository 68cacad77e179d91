// An image that the host hands a module: its own copy of an item's picture as an image of the imaging
// framework, which the module reads and resizes as it likes; it goes with its last reference.
#pragma once

#include "CHostPicture.h"

#include "platform/kvtrtl/IKvwHost.h"
#include "platform/pravon/IPravonImage.h"

#include <atomic>

class CHostImage final : public IKvwImage {
public:
    // An image with no pixels (0 x 0) when the picture cannot be held.
    CHostImage(IPravonManager& manager, const CHostPicture& picture);
    ULONG AddRef() override;
    ULONG Release() override;
    LONG GetWidth() override;
    LONG GetHeight() override;
    IPravonDataSource* GetDataSource() override { return m_image.get(); }
    // Each new pixel is the mean of the old ones it covers, weighted by how much of each it covers (an
    // enlarged image repeats its pixels), at the image's own depth.
    bool Resize(LONG width, LONG height) override;
    // Images that modules still hold, over all hosts.
    static LONG Live();

private:
    ~CHostImage();
    bool Fill(const CHostPicture& picture);

    std::atomic<ULONG> m_references{1};
    PravonImagePtr m_image;
};

// The picture resampled as CHostImage::Resize does it; a picture of other than one, three or four channels
// comes back with every sample 0.
CHostPicture ResamplePicture(const CHostPicture& picture, LONG width, LONG height);
