// The pages' frame, form and pieces.
#include "opac/pages.h"

#include <cstdint>
#include <cstdio>

#include "opac/discovery.h"
#include "opac/html.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace r = res::opac;

std::string_view Stylesheet() { return r::kStylesheet; }

std::string StylesheetAddress(std::string_view script_name) {
  static const std::string kVersion = [] {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : r::kStylesheet) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return std::string(text);
  }();
  return std::string(script_name) + "/style.css?v=" + kVersion;
}

std::string Frame(std::string_view script_name, std::string_view title, std::string_view main_html,
                  const Library& library, std::string_view head_html) {
  const std::string home = HtmlEscape(std::string(script_name) + "/");
  std::string page = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>" + HtmlEscape(title) + " - " + std::string(r::kSiteName) + "</title>\n";
  page += "<link rel=\"stylesheet\" href=\"" + HtmlEscape(StylesheetAddress(script_name)) + "\">\n";
  page += "<link rel=\"search\" type=\"application/opensearchdescription+xml\" title=\"" +
          HtmlEscape(OpenSearchShortName(library)) + "\" href=\"" + HtmlEscape(OpenSearchAddress(script_name)) + "\">\n";
  page += head_html;
  page += "</head>\n<body>\n";
  page += "<a class=\"skip\" href=\"#main\">" + std::string(r::kSkipLink) + "</a>\n";
  const std::string name_html =
      library.name.empty() ? "" : "<span class=\"library\">" + HtmlEscape(library.name) + "</span> ";
  page += "<header>" + name_html + "<a href=\"" + home + "\">" + std::string(r::kSiteName) + "</a></header>\n";
  page += "<main id=\"main\">\n";
  page += main_html;
  page += "</main>\n<footer>\n<ul>\n<li><a href=\"" + home + "\">" + std::string(r::kHomeLink) + "</a></li>\n";
  const std::pair<const std::string*, std::string_view> links[] = {{&library.home, r::kLibraryHomeLink},
                                                                   {&library.policy, r::kAccessibilityLink}};
  for (const auto& [address, label] : links) {
    if (!address->empty()) page += "<li><a href=\"" + HtmlEscape(*address) + "\">" + std::string(label) + "</a></li>\n";
  }
  page += "</ul>\n";
  if (!library.name.empty()) page += "<p>" + HtmlEscape(library.name) + "</p>\n";
  page += "</footer>\n</body>\n</html>\n";
  return page;
}

namespace {

std::string TextBox(std::string_view name, std::string_view label, std::string_view value) {
  const std::string id = "f-" + std::string(name);
  return "<div><label for=\"" + id + "\">" + std::string(label) + "</label><input type=\"search\" id=\"" + id +
         "\" name=\"" + std::string(name) + "\" value=\"" + HtmlEscape(value) +
         "\" aria-describedby=\"words-hint\"></div>\n";
}

}  // namespace

std::string SearchForm(std::string_view script_name, const FormValues& values,
                       const std::vector<std::string>& class_names_html) {
  std::string form = "<form role=\"search\" method=\"get\" action=\"" +
                     HtmlEscape(std::string(script_name) + "/search") + "\">\n";
  form += TextBox("q", r::kQLabel, values.q);
  form += "<fieldset><legend>" + std::string(r::kDetailLegend) + "</legend>\n";
  form += TextBox("title", r::kTitleLabel, values.title);
  form += TextBox("author", r::kAuthorLabel, values.author);
  form += TextBox("keyword", r::kKeywordLabel, values.keyword);
  form += "<div><label for=\"f-class\">" + std::string(r::kClassLabel) + "</label><select id=\"f-class\" name=\"class\">";
  form += "<option value=\"\">" + std::string(r::kAllClasses) + "</option>";
  for (size_t digit = 0; digit < class_names_html.size(); ++digit) {
    const std::string value = std::to_string(digit);
    form += "<option value=\"" + value + "\"" + (values.class_prefix == value ? " selected" : "") + ">" + value +
            " " + class_names_html[digit] + "</option>";
  }
  form += "</select></div>\n</fieldset>\n";
  // Each box names the hint, so that a screen reader says it on the way through the form.
  form += "<p class=\"hint\" id=\"words-hint\">" + std::string(r::kWordsHint) + "</p>\n";
  form += "<div><button type=\"submit\">" + std::string(r::kSearchButton) + "</button></div>\n</form>\n";
  return form;
}

std::string Term(std::string_view label, std::string_view value_html) {
  if (value_html.empty()) return std::string();
  return "<div><dt>" + std::string(label) + "</dt><dd>" + std::string(value_html) + "</dd></div>\n";
}

std::string Notice(std::string_view text_html) {
  return "<p class=\"notice\" role=\"status\">" + std::string(text_html) + "</p>\n";
}

}  // namespace shelfra::opac
