// The UTF-8 pages' markup: the frame every page shares (landmarks, skip link, stylesheet), the
// search form, and the pieces the result list and the book page are made of. Every argument
// named *_html is markup already; everything else is escaped here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace shelfra::opac {

// The address of the stylesheet under `script_name`, with a version from the sheet's text so
// that a changed sheet gets a new address (it is served with a long cache life).
std::string StylesheetAddress(std::string_view script_name);
// The stylesheet itself.
std::string_view Stylesheet();

// The library the pages belong to, from the settings file (UTF-8, unescaped; each may be
// empty): its name, and the addresses of its home page and its accessibility policy, which
// are only http(s) addresses (LinkAddress) or empty.
struct Library {
  std::string name, home, policy;
};

// A whole page: <html lang="ja">, the viewport, the title "<title> - <site name>", the link to
// the OpenSearch description and then `head_html` in the head, the header with the skip link,
// the library's name and the link home, `main_html` in <main id="main">, the footer with the
// library's name and links.
std::string Frame(std::string_view script_name, std::string_view title, std::string_view main_html,
                  const Library& library, std::string_view head_html = {});

// The values a search form is filled with (UTF-8, unescaped).
struct FormValues {
  std::string q, title, author, keyword, class_prefix;
};
// The search form: the one box `q`, then the detailed fields title, author, keyword and the
// class selector with `class_names_html` (ten, class 0 first); each control with its label.
std::string SearchForm(std::string_view script_name, const FormValues& values,
                       const std::vector<std::string>& class_names_html);

// <div><dt>label</dt><dd>value</dd></div> for a definition list; nothing for an empty value.
std::string Term(std::string_view label, std::string_view value_html);

// A notice box (role="status" or "alert") with `text_html`.
std::string Notice(std::string_view text_html);

}  // namespace shelfra::opac
