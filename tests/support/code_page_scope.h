#pragma once

#include "platform/codepage.h"

#include <clocale>
#include <gtest/gtest.h>
#include <locale.h>
#include <string>

namespace ferry::test {

// The program's code page switched to that of an installed locale for one scope. Tests of
// a locale skip, saying so, when the machine lacks it (scripts/install-locales makes them),
// and fail when it is installed but gives no code page.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const std::string& locale) : Old_(SystemCodePage()) {
        locale_t loc = newlocale(LC_CTYPE_MASK, locale.c_str(), static_cast<locale_t>(0));
        if (loc == static_cast<locale_t>(0)) {
            Why_ = "the locale " + locale + " is not installed (run scripts/install-locales)";
            return;
        }
        freelocale(loc);
        CodePage cp = CodePage::Windows1252();
        if (!CodePage::ForLocale(locale, cp)) {
            // The locale is there: the program must be able to work in it.
            Why_ = "no code page for the installed locale " + locale;
            ADD_FAILURE() << Why_;
            return;
        }
        SetSystemCodePage(cp);
        Ok_ = true;
    }
    ~ScopedCodePage() { SetSystemCodePage(Old_); }
    ScopedCodePage(const ScopedCodePage&) = delete;
    ScopedCodePage& operator=(const ScopedCodePage&) = delete;

    bool Ok() const { return Ok_; }
    const std::string& Why() const { return Why_; }

private:
    CodePage Old_;
    bool Ok_ = false;
    std::string Why_;
};

} // namespace ferry::test

// Runs the rest of the test in the code page of `locale`, or skips it when that is missing.
#define FERRY_IN_LOCALE(locale)                                                                    \
    ::ferry::test::ScopedCodePage ferryCodePage_(locale);                                          \
    if (!ferryCodePage_.Ok())                                                                      \
    GTEST_SKIP() << ferryCodePage_.Why()
