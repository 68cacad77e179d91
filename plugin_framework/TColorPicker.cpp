#include "TColorPicker.h"

#include "PackedColor.h"

#include "platform/win/WinColorDialog.h"

bool TColorPicker::Choose(DWORD& colour) const {
    if (!m_data)
        return false;
    colour = m_data->colour;
    CHOOSECOLORW choice{};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = m_data->owner;
    choice.rgbResult = PackedColor::ClearFlagByte(m_data->colour);
    choice.lpCustColors = m_data->custom;
    choice.Flags = CC_RGBINIT;
    if (!ChooseColorW(&choice))
        return false;
    colour = PackedColor::SetFlagByte(choice.rgbResult);
    return true;
}
