// A menu of the design module's language library, built from its template; the menu goes with the object.
#pragma once

#include "platform/win/WinMenus.h"

class CKvwMenuResource {
public:
    CKvwMenuResource() = default;
    ~CKvwMenuResource();
    CKvwMenuResource(const CKvwMenuResource&) = delete;
    CKvwMenuResource& operator=(const CKvwMenuResource&) = delete;

    // Builds the menu of the id from the template in the library (null: the resource accessor's module,
    // the language library); any menu held before is destroyed first. False without a template.
    bool Load(UINT menuId, HINSTANCE library = nullptr);
    void Destroy();
    HMENU GetHandle() const { return m_menu; }

private:
    HMENU m_menu = nullptr;
};

// The design module's message box: kind 0 an error, 1 information, 2 a question with Yes and No (any other
// kind a plain box), captioned "DesignModule". True when the answer was OK or Yes.
bool ShowDesignMessage(const wchar_t* text, int kind, HWND owner);
