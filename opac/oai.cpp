// The harvesting interface's requests: the verb and its arguments checked, the repository read
// from the settings, the verbs that read no book, and the response around every answer.
#include "opac/oai.h"

#include <ctime>
#include <map>
#include <optional>

#include "base/error_log.h"
#include "base/profile.h"
#include "base/text.h"
#include "catalogue/settings.h"
#include "opac/html.h"
#include "opac/oai_records.h"
#include "opac/oai_text.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace {

// The arguments of a verb: those it requires, those it may have, and whether it takes the
// exclusive resumptionToken.
struct VerbRule {
  std::string_view verb;
  std::string_view required[2];
  std::string_view optional[3];
  bool token;
};
constexpr VerbRule kVerbs[] = {
    {"Identify", {}, {}, false},
    {"ListMetadataFormats", {}, {"identifier"}, false},
    {"ListSets", {}, {}, true},
    {"GetRecord", {"identifier", "metadataPrefix"}, {}, false},
    {"ListIdentifiers", {"metadataPrefix"}, {"from", "until", "set"}, true},
    {"ListRecords", {"metadataPrefix"}, {"from", "until", "set"}, true},
};

using Parameters = std::vector<std::pair<std::string, std::string>>;

// A request's checked arguments: its verb and every other argument by name.
struct Arguments {
  const VerbRule* rule = nullptr;
  std::map<std::string, std::string, std::less<>> values;
  std::optional<UtcArgument> from, until;

  const std::string* Find(std::string_view name) const {
    const auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

bool Named(const std::string_view (&names)[2], std::string_view name) {
  return !name.empty() && (names[0] == name || names[1] == name);
}
bool Named(const std::string_view (&names)[3], std::string_view name) {
  return !name.empty() && (names[0] == name || names[1] == name || names[2] == name);
}

// The verb and arguments of `parameters`; badVerb or badArgument when they break the verb's rule.
std::optional<Reply> Check(const Parameters& parameters, Arguments& arguments) {
  const std::string* verb = nullptr;
  for (const auto& [name, value] : parameters) {
    if (name != "verb") continue;
    if (verb) return ErrorReply("badVerb", "The verb argument is repeated.");
    verb = &value;
  }
  if (!verb) return ErrorReply("badVerb", "The verb argument is missing.");
  for (const VerbRule& rule : kVerbs) {
    if (rule.verb == *verb) arguments.rule = &rule;
  }
  if (!arguments.rule) return ErrorReply("badVerb", "The verb is not one of OAI-PMH's.");
  const VerbRule& rule = *arguments.rule;
  for (const auto& [name, value] : parameters) {
    if (name == "verb") continue;
    if (!Named(rule.required, name) && !Named(rule.optional, name) && !(rule.token && name == "resumptionToken")) {
      return ErrorReply("badArgument", std::string("The verb takes no argument ").append(name).append("."));
    }
    if (value.empty()) return ErrorReply("badArgument", "An argument has no value.");
    if (!arguments.values.emplace(name, value).second) return ErrorReply("badArgument", "An argument is repeated.");
  }
  if (arguments.Find("resumptionToken")) {
    if (arguments.values.size() > 1) return ErrorReply("badArgument", "The resumptionToken is exclusive.");
    return std::nullopt;
  }
  for (std::string_view name : rule.required) {
    if (!name.empty() && !arguments.Find(name)) return ErrorReply("badArgument", "A required argument is missing.");
  }
  for (auto [name, bound] : {std::pair{"from", &arguments.from}, std::pair{"until", &arguments.until}}) {
    if (const std::string* text = arguments.Find(name); text && !(*bound = ParseUtcArgument(*text))) {
      return ErrorReply("badArgument", "from and until are YYYY-MM-DD or YYYY-MM-DDThh:mm:ssZ.");
    }
  }
  if (arguments.from && arguments.until && arguments.from->day != arguments.until->day) {
    return ErrorReply("badArgument", "from and until have different granularities.");
  }
  return std::nullopt;
}

std::string BaseUrl(const Request& request) { return request.origin + request.script_name + "/oai"; }

// The host of `origin` ("https://host:port"): the default repository identifier.
std::string HostOf(std::string_view origin) {
  const size_t scheme = origin.find("://");
  std::string_view host = scheme == std::string_view::npos ? origin : origin.substr(scheme + 3);
  host = host.substr(0, host.find(':'));
  return RepositoryIdentifierValue(host) ? std::string(host) : std::string("localhost");
}

Repository RepositoryOf(const Request& request) {
  const std::string file = SettingsFilePath();
  auto value = [&file](const SettingKey& key) {
    return GetPrivateProfileString(key.section, key.key, key.default_value, file);
  };
  Repository repository;
  repository.base_url = BaseUrl(request);
  repository.pages = request.origin + request.script_name;
  const std::string host = HostOf(request.origin);
  repository.identifier = value(RepositoryIdentifierKey());
  if (!repository.identifier.empty() && !RepositoryIdentifierValue(repository.identifier)) {
    std::string line = "shelfra.cgi: harvesting: the repository identifier setting ";
    line.append(repository.identifier).append(" is no host name; the items are named after ").append(host);
    LogLine(line);
    repository.identifier.clear();
  }
  if (repository.identifier.empty()) repository.identifier = host;
  repository.sets = SettingIsTrue(value(HarvestSetsKey()));
  for (int digit = 0; digit <= 9; ++digit) repository.class_names.push_back(FromSjis(value(ClassNameKey(digit))));
  repository.state = HarvestState();
  return repository;
}

// AppendElement, then a line end.
void Element(std::string& xml, std::string_view name, std::string_view utf8) {
  AppendElement(xml, name, utf8);
  xml.append("\n");
}

// The repository's name: the setting, else the library's name, else the pages' own name.
std::string RepositoryName() {
  const std::string file = SettingsFilePath();
  for (const SettingKey& key : {RepositoryNameKey(), LibraryNameKey()}) {
    const std::string name = GetPrivateProfileString(key.section, key.key, key.default_value, file);
    if (!name.empty()) return FromSjis(name);
  }
  return std::string(res::opac::kSiteName);
}

// The administrators' addresses: the setting's pieces between blanks and commas, else
// "webmaster@" and the host.
std::vector<std::string> AdminEmails(const Request& request) {
  const SettingKey key = AdminEmailKey();
  const std::string text = FromSjis(GetPrivateProfileString(key.section, key.key, key.default_value,
                                                            SettingsFilePath()));
  std::vector<std::string> emails;
  std::string email;
  for (char c : text + ' ') {
    if (c != ' ' && c != ',' && c != '\t') {
      email.push_back(c);
    } else if (!email.empty()) {
      emails.push_back(std::move(email));
      email.clear();
    }
  }
  if (emails.empty()) emails.push_back(std::string("webmaster@").append(HostOf(request.origin)));
  return emails;
}

Reply IdentifyReply(const Repository& repository, const Request& request) {
  Reply reply;
  std::string& xml = reply.xml;
  xml = "<Identify>\n";
  Element(xml, "repositoryName", RepositoryName());
  Element(xml, "baseURL", repository.base_url);
  Element(xml, "protocolVersion", "2.0");
  for (const std::string& email : AdminEmails(request)) Element(xml, "adminEmail", email);
  Element(xml, "earliestDatestamp", UtcDatestamp(repository.state.changed));
  // Withdrawn books are deleted records while the table keeps them; a record removed from the
  // table is not remembered (docs/harvesting.md).
  Element(xml, "deletedRecord", "transient");
  Element(xml, "granularity", "YYYY-MM-DDThh:mm:ssZ");
  if (DomainIdentifier(repository.identifier)) {
    xml.append(
        "<description><oai-identifier xmlns=\"http://www.openarchives.org/OAI/2.0/oai-identifier\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.openarchives.org/OAI/2.0/oai-identifier "
        "http://www.openarchives.org/OAI/2.0/oai-identifier.xsd\">\n");
    Element(xml, "scheme", "oai");
    Element(xml, "repositoryIdentifier", repository.identifier);
    Element(xml, "delimiter", ":");
    Element(xml, "sampleIdentifier", ItemIdentifier(repository.identifier, 1));
    xml.append("</oai-identifier></description>\n");
  }
  xml.append("</Identify>");
  return reply;
}

Reply SetsReply(const Repository& repository, const Arguments& arguments) {
  if (arguments.Find("resumptionToken")) {
    return ErrorReply("badResumptionToken", "The list of sets is never split: there is no token to resume.");
  }
  if (!repository.sets) return ErrorReply("noSetHierarchy", "This repository offers no sets.");
  Reply reply;
  reply.xml = "<ListSets>\n";
  for (int digit = 0; digit <= 9; ++digit) {
    reply.xml.append("<set>");
    AppendElement(reply.xml, "setSpec", ClassSet(digit));
    // The set's name as the search form's class selector shows it: the digit and the name.
    AppendElement(reply.xml, "setName",
                  std::string(1, static_cast<char>('0' + digit)).append(" ").append(repository.class_names[digit]));
    reply.xml.append("</set>\n");
  }
  reply.xml.append("</ListSets>");
  return reply;
}

Reply ListVerbReply(const Repository& repository, const Arguments& arguments, bool records) {
  ListRequest list;
  if (const std::string* token = arguments.Find("resumptionToken")) {
    list.token = *token;
    return ListReply(repository, list, records);
  }
  list.prefix = *arguments.Find("metadataPrefix");
  if (list.prefix != kDcPrefix) return ErrorReply("cannotDisseminateFormat", "The only metadata format is oai_dc.");
  if (const std::string* set = arguments.Find("set")) {
    if (!repository.sets) return ErrorReply("noSetHierarchy", "This repository offers no sets.");
    const std::optional<int> digit = ClassOfSet(*set);
    if (!digit) return ErrorReply("noRecordsMatch", "There is no such set; ListSets names them.");
    list.set = *digit;
  }
  list.from = arguments.from;
  list.until = arguments.until;
  return ListReply(repository, list, records);
}

Reply Dispatch(const Request& request, const Arguments& arguments) {
  const Repository repository = RepositoryOf(request);
  const std::string_view verb = arguments.rule->verb;
  if (verb == "Identify") return IdentifyReply(repository, request);
  if (verb == "ListSets") return SetsReply(repository, arguments);
  if (verb == "ListMetadataFormats") {
    const std::string* identifier = arguments.Find("identifier");
    return MetadataFormatsReply(repository, identifier ? std::optional<std::string>(*identifier) : std::nullopt);
  }
  if (verb == "GetRecord") {
    return GetRecordReply(repository, *arguments.Find("identifier"), *arguments.Find("metadataPrefix"));
  }
  return ListVerbReply(repository, arguments, verb == "ListRecords");
}

// The OAI-PMH response of `reply`: the request element names the arguments `parameters` (verb
// first) unless the reply is badVerb or badArgument, which the protocol answers with the base
// URL alone.
Answer Response(const std::string& base_url, const Parameters& parameters, const Reply& reply) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<OAI-PMH xmlns=\"http://www.openarchives.org/OAI/2.0/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.openarchives.org/OAI/2.0/ http://www.openarchives.org/OAI/2.0/OAI-PMH.xsd\">\n";
  Element(xml, "responseDate", UtcDatestamp(std::time(nullptr)));
  xml.append("<request");
  if (reply.error != "badVerb" && reply.error != "badArgument") {
    for (const bool verb : {true, false}) {
      for (const auto& [name, value] : parameters) {
        if ((name == "verb") != verb) continue;
        xml.append(" ").append(name).append("=\"").append(XmlEscape(value)).append("\"");
      }
    }
  }
  xml.append(">").append(XmlEscape(base_url)).append("</request>\n");
  if (reply.error.empty()) {
    xml.append(reply.xml).append("\n");
  } else {
    xml.append("<error code=\"").append(reply.error).append("\">").append(XmlEscape(reply.message));
    xml.append("</error>\n");
  }
  xml.append("</OAI-PMH>\n");
  Answer answer;
  answer.content_type = "text/xml; charset=UTF-8";
  answer.body = std::move(xml);
  return answer;
}

// Whether `content_type` is application/x-www-form-urlencoded, parameters after ";" allowed.
bool FormType(std::string_view content_type) {
  const std::string_view type = content_type.substr(0, content_type.find(';'));
  const size_t end = type.find_last_not_of(' ');
  return end != std::string_view::npos && SameTextAscii(type.substr(0, end + 1), "application/x-www-form-urlencoded");
}

}  // namespace

Answer Harvest(const Request& request) {
  Parameters parameters = request.parameters;
  if (request.method == "POST") {
    std::optional<Parameters> form;
    if (FormType(request.content_type) && request.content.size() <= kMaxRequestContent) {
      form = ParseQuery(request.content);
    }
    if (!form) {
      return Response(BaseUrl(request), {},
                      ErrorReply("badArgument", "A POST carries its arguments as a form "
                                                "(application/x-www-form-urlencoded, UTF-8, at most 64 KiB)."));
    }
    parameters.insert(parameters.end(), form->begin(), form->end());
  }
  Arguments arguments;
  if (std::optional<Reply> refused = Check(parameters, arguments)) return Response(BaseUrl(request), {}, *refused);
  return Response(BaseUrl(request), parameters, Dispatch(request, arguments));
}

Answer HarvestBadArgument(const Request& request) {
  return Response(BaseUrl(request), {},
                  ErrorReply("badArgument", "The query is no well-formed percent-escaped UTF-8."));
}

}  // namespace shelfra::opac
