// While it lives, LC_NUMERIC is a locale that writes and reads reals with a decimal comma (de_DE.UTF-8,
// compiled with localedef into a temporary folder when the machine has not installed it), so that tests can
// show that stored numbers do not follow the user's locale.
#pragma once

#include "testing/RunProgram.h"
#include "testing/TempFolder.h"

#include <clocale>
#include <cstdlib>
#include <string>

class CommaLocale {
public:
    CommaLocale() {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        m_previous = current ? current : "C";
        if (!std::setlocale(LC_NUMERIC, kName)) {
            static kvtest::TempFolder folder;
            static const int compiled = kvtest::RunProgram(
                {"/usr/bin/localedef", "-c", "-i", "de_DE", "-f", "UTF-8", folder.File(kName)});
            (void)compiled; // localedef reports warnings as 1 while the locale is still made
            // The search path serves this one call only: glibc's newlocale leaks its copy of the path
            // when a later lookup (of "C.UTF-8", say) finds nothing there.
            const char* searched = std::getenv("LOCPATH");
            const std::string saved = searched ? searched : "";
            setenv("LOCPATH", folder.Path().c_str(), 1);
            std::setlocale(LC_NUMERIC, kName);
            if (searched)
                setenv("LOCPATH", saved.c_str(), 1);
            else
                unsetenv("LOCPATH");
        }
        const std::lconv* conventions = std::localeconv();
        m_active = conventions && std::string(conventions->decimal_point) == ",";
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, m_previous.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool Active() const { return m_active; }

private:
    static constexpr const char* kName = "de_DE.UTF-8";
    std::string m_previous;
    bool m_active = false;
};
