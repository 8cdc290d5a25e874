// The answers every address of the UTF-8 front builds on: the library the settings file names,
// a page in the frame, and a message page.
#pragma once

#include <string_view>

#include "opac/front.h"
#include "opac/pages.h"

namespace shelfra::opac {

// The library of the settings file; its address keys only when they are http(s) addresses.
// An unconfigured catalogue (no alias, no settings file) gives the empty library.
Library LibraryOfSettings();

// A page of `status` in the frame (see Frame) with `title` and `main_html`; `head_html` is
// added to its head.
Answer Page(int status, std::string_view script_name, std::string_view title, std::string_view main_html,
            std::string_view head_html = {});

// A page of `status` saying `heading` (also its title) and `text_html` in one paragraph.
Answer Message(int status, std::string_view script_name, std::string_view heading, std::string_view text_html);

}  // namespace shelfra::opac
