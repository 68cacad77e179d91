// The combo box and the list box: one list of texts behind two sets of messages.
#include "WinControlsInternal.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace WinControls {
namespace {

constexpr LONG kRowHeight = 16;
constexpr LONG kArrowWidth = 16;

struct ListData : ControlData {
    std::vector<std::wstring> texts;
    std::vector<LRESULT> itemData;
    int selection = -1;
};

// The messages of one of the two classes.
struct ListMessages {
    UINT add, insert, remove, reset, setSelection, getSelection, getText, getTextLength, count, getData,
        setData, findExact;
    LRESULT error, errorSpace, okay;
    DWORD sortStyle;
};

constexpr ListMessages kComboMessages{CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT,
                                      CB_SETCURSEL, CB_GETCURSEL,    CB_GETLBTEXT,    CB_GETLBTEXTLEN,
                                      CB_GETCOUNT,  CB_GETITEMDATA,  CB_SETITEMDATA,  CB_FINDSTRINGEXACT,
                                      CB_ERR,       CB_ERRSPACE,     CB_OKAY,         CBS_SORT};
constexpr ListMessages kListMessages{LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT,
                                     LB_SETCURSEL, LB_GETCURSEL,    LB_GETTEXT,      LB_GETTEXTLEN,
                                     LB_GETCOUNT,  LB_GETITEMDATA,  LB_SETITEMDATA,  LB_FINDSTRINGEXACT,
                                     LB_ERR,       LB_ERRSPACE,     LB_OKAY,         LBS_SORT};

int Compare(const std::wstring& a, const std::wstring& b) {
    return wcscasecmp(a.c_str(), b.c_str());
}

bool ValidIndex(const ListData& data, WPARAM index) {
    return index < data.texts.size();
}

LRESULT Insert(ListData& data, std::size_t at, const wchar_t* text, const ListMessages& m) {
    try {
        data.texts.insert(data.texts.begin() + static_cast<std::ptrdiff_t>(at), std::wstring(text));
        data.itemData.insert(data.itemData.begin() + static_cast<std::ptrdiff_t>(at), 0);
    } catch (const std::bad_alloc&) {
        if (data.texts.size() != data.itemData.size())
            data.texts.erase(data.texts.begin() + static_cast<std::ptrdiff_t>(at));
        return m.errorSpace;
    }
    if (data.selection >= static_cast<int>(at))
        ++data.selection;
    return static_cast<LRESULT>(at);
}

// True when the message is one of the list's (answered in result).
bool HandleList(HWND window, ListData& data, const ListMessages& m, UINT message, WPARAM wParam,
                LPARAM lParam, LRESULT& result) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    const auto index = static_cast<int>(static_cast<std::intptr_t>(wParam));
    if (message == m.add) {
        if (!text) {
            result = m.error;
            return true;
        }
        std::size_t at = data.texts.size();
        if (StyleOf(window) & m.sortStyle) {
            const std::wstring added(text);
            at = static_cast<std::size_t>(std::upper_bound(data.texts.begin(), data.texts.end(), added,
                                                           [](const std::wstring& a, const std::wstring& b) {
                                                               return Compare(a, b) < 0;
                                                           }) -
                                          data.texts.begin());
        }
        result = Insert(data, at, text, m);
    } else if (message == m.insert) {
        if (!text || index < -1 || (index >= 0 && static_cast<std::size_t>(index) > data.texts.size())) {
            result = m.error;
            return true;
        }
        result = Insert(data, index < 0 ? data.texts.size() : static_cast<std::size_t>(index), text, m);
    } else if (message == m.remove) {
        if (!ValidIndex(data, wParam)) {
            result = m.error;
            return true;
        }
        data.texts.erase(data.texts.begin() + index);
        data.itemData.erase(data.itemData.begin() + index);
        if (data.selection == index)
            data.selection = -1;
        else if (data.selection > index)
            --data.selection;
        result = static_cast<LRESULT>(data.texts.size());
    } else if (message == m.reset) {
        data.texts.clear();
        data.itemData.clear();
        data.selection = -1;
        result = m.okay;
    } else if (message == m.setSelection) {
        // -1, or an index outside the list, leaves nothing selected.
        const bool valid = ValidIndex(data, wParam);
        data.selection = valid ? index : -1;
        result = valid ? index : m.error;
    } else if (message == m.getSelection) {
        result = data.selection;
    } else if (message == m.getText) {
        auto* buffer = reinterpret_cast<wchar_t*>(lParam);
        if (!ValidIndex(data, wParam) || !buffer) {
            result = m.error;
            return true;
        }
        const std::wstring& item = data.texts[static_cast<std::size_t>(index)];
        std::copy(item.begin(), item.end(), buffer);
        buffer[item.size()] = 0;
        result = static_cast<LRESULT>(item.size());
    } else if (message == m.getTextLength) {
        result = ValidIndex(data, wParam)
                     ? static_cast<LRESULT>(data.texts[static_cast<std::size_t>(index)].size())
                     : m.error;
    } else if (message == m.count) {
        result = static_cast<LRESULT>(data.texts.size());
    } else if (message == m.getData) {
        result = ValidIndex(data, wParam) ? data.itemData[static_cast<std::size_t>(index)] : m.error;
    } else if (message == m.setData) {
        if (!ValidIndex(data, wParam)) {
            result = m.error;
            return true;
        }
        data.itemData[static_cast<std::size_t>(index)] = lParam;
        result = TRUE;
    } else if (message == m.findExact) {
        // The search starts after the given item and wraps round; -1 searches from the start.
        result = m.error;
        const std::size_t count = data.texts.size();
        const std::size_t start = ValidIndex(data, wParam) ? static_cast<std::size_t>(index) + 1 : 0;
        for (std::size_t step = 0; text && step < count; ++step) {
            const std::size_t at = (start + step) % count;
            if (wcscasecmp(data.texts[at].c_str(), text) == 0) {
                result = static_cast<LRESULT>(at);
                break;
            }
        }
    } else {
        return false;
    }
    return true;
}

void PaintCombo(HWND window, const ListData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    RECT client = paint.client();
    DrawFrameControl(paint.dc(), &client, DFC_BUTTON,
                     DFCS_BUTTONCHECK | (IsWindowEnabled(window) ? 0 : DFCS_INACTIVE));
    RECT arrow{std::max(client.left + 2, client.right - 2 - kArrowWidth), client.top + 2, client.right - 2,
               client.bottom - 2};
    DrawFrameControl(paint.dc(), &arrow, DFC_BUTTON, DFCS_BUTTONPUSH);
    // A small triangle pointing down.
    const LONG middle = (arrow.left + arrow.right) / 2;
    const LONG top = (arrow.top + arrow.bottom) / 2 - 2;
    for (LONG row = 0; row < 4; ++row) {
        RECT line{middle - 3 + row, top + row, middle + 4 - row, top + row + 1};
        FillRect(paint.dc(), &line,
                 GetSysColorBrush(IsWindowEnabled(window) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    }
    if (data.selection >= 0) {
        RECT text{client.left + 4, client.top + 2, arrow.left - 1, client.bottom - 2};
        SetBkMode(paint.dc(), TRANSPARENT);
        SetTextColor(paint.dc(), GetSysColor(IsWindowEnabled(window) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
        const std::wstring& item = data.texts[static_cast<std::size_t>(data.selection)];
        DrawTextW(paint.dc(), item.c_str(), static_cast<int>(item.size()), &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
}

void PaintList(HWND window, const ListData& data) {
    PaintScope paint(window, data);
    if (!paint.dc())
        return;
    RECT client = paint.client();
    FillRect(paint.dc(), &client, GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(paint.dc(), TRANSPARENT);
    for (std::size_t i = 0; i < data.texts.size(); ++i) {
        RECT row{client.left, client.top + static_cast<LONG>(i) * kRowHeight, client.right, 0};
        if (row.top >= client.bottom)
            break;
        row.bottom = row.top + kRowHeight;
        const bool selected = static_cast<int>(i) == data.selection;
        if (selected)
            FillRect(paint.dc(), &row, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(paint.dc(), GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        RECT text = row;
        text.left += 2;
        DrawTextW(paint.dc(), data.texts[i].c_str(), static_cast<int>(data.texts[i].size()), &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
}

LRESULT ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const ListMessages& messages,
                 void (*paint)(HWND, const ListData&)) {
    return RunControl<ListData>(window, message, wParam, lParam, [&](ListData& data) -> LRESULT {
        LRESULT result = 0;
        if (HandleList(window, data, messages, message, wParam, lParam, result)) {
            const UINT changing[] = {messages.add, messages.insert, messages.remove, messages.reset,
                                     messages.setSelection};
            if (std::find(std::begin(changing), std::end(changing), message) != std::end(changing))
                Repaint(window);
            return result;
        }
        if (message == WM_PAINT) {
            paint(window, data);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    });
}

} // namespace

LRESULT ComboBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ListProc(window, message, wParam, lParam, kComboMessages, PaintCombo);
}

LRESULT ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ListProc(window, message, wParam, lParam, kListMessages, PaintList);
}

} // namespace WinControls
