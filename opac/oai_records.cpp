// Books as harvested records: headers, oai_dc metadata, one record, pages of the whole list.
#include "opac/oai_records.h"

#include "catalogue/catalogue_service.h"
#include "catalogue/identifier.h"
#include "opac/html.h"
#include "opac/records.h"

namespace shelfra::opac {

namespace {

// The publication year as a date: its four leading digits when it starts with them (a year
// followed by the kanji for year is that year), else the text as the catalogue holds it.
std::string_view YearOf(std::string_view year) {
  if (year.size() >= 4 && year.substr(0, 4).find_first_not_of("0123456789") == std::string_view::npos) {
    return year.substr(0, 4);
  }
  return year;
}

std::string HeaderXml(const Repository& repository, const BookRecord& book) {
  std::string xml = book.withdrawn ? "<header status=\"deleted\">" : "<header>";
  AppendElement(xml, "identifier", ItemIdentifier(repository.identifier, book.number));
  AppendElement(xml, "datestamp", UtcDatestamp(repository.state.changed));
  if (const std::optional<int> digit = ClassDigit(book.class_code); digit && repository.sets) {
    AppendElement(xml, "setSpec", ClassSet(*digit));
  }
  return xml.append("</header>");
}

// The book's unqualified Dublin Core: what the book page shows of it that a union catalogue
// can use, and the page's own address.
std::string DublinCore(const Repository& repository, const BookRecord& book) {
  std::string xml =
      "<oai_dc:dc xmlns:oai_dc=\"http://www.openarchives.org/OAI/2.0/oai_dc/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.openarchives.org/OAI/2.0/oai_dc/ "
      "http://www.openarchives.org/OAI/2.0/oai_dc.xsd\">";
  AppendElement(xml, "dc:title", book.title);
  AppendElement(xml, "dc:creator", book.author);
  AppendElement(xml, "dc:subject", book.class_code);
  if (const std::optional<int> digit = ClassDigit(book.class_code)) {
    AppendElement(xml, "dc:subject", repository.class_names[static_cast<size_t>(*digit)]);
  }
  for (const std::string& heading : SubjectHeadings(book.subjects)) AppendElement(xml, "dc:subject", heading);
  AppendElement(xml, "dc:description", book.contents);
  AppendElement(xml, "dc:description", book.note);
  AppendElement(xml, "dc:publisher", book.publisher);
  AppendElement(xml, "dc:date", YearOf(book.year));
  AppendElement(xml, "dc:type", "Text");
  if (IsIsbnWord(book.isbn)) AppendElement(xml, "dc:identifier", std::string("urn:isbn:").append(IsbnKey(book.isbn)));
  AppendElement(xml, "dc:identifier", BookAddress(repository.pages, book.number));
  AppendElement(xml, "dc:language", "jpn");
  return xml.append("</oai_dc:dc>");
}

// A record: the header, and the metadata unless the book is withdrawn (a deleted record).
std::string RecordXml(const Repository& repository, const BookRecord& book) {
  std::string xml = "<record>";
  xml.append(HeaderXml(repository, book));
  if (!book.withdrawn) xml.append("<metadata>").append(DublinCore(repository, book)).append("</metadata>");
  return xml.append("</record>\n");
}

// The current book, numbered as its item identifier is (ItemNumber of the stored number: the
// ten-digit numbers a number field may hold are items too).
BookRecord CurrentItem(CatalogueService& catalogue) {
  BookRecord book = CurrentBook(catalogue);
  book.number = ItemNumber(catalogue.BookText(RegistrationNumberField())).value_or(0);
  return book;
}

bool InRange(std::time_t datestamp, std::optional<int64_t> from, std::optional<int64_t> until) {
  return (!from || datestamp >= *from) && (!until || datestamp <= *until);
}

std::string Number(int64_t n) { return std::to_string(n); }

// The list a request asks for, where it starts and how long it is: read from its token, or
// counted for a first request (the whole answer of an empty search, whose class counts give a
// set's size). An error reply when the token is refused or the list is empty.
std::optional<Reply> StartOfList(const Repository& repository, const ListRequest& request,
                                 CatalogueService& catalogue, ListToken& list) {
  if (request.token) {
    const std::optional<ListToken> token = ParseToken(*request.token);
    if (!token || token->prefix != kDcPrefix) {
      return ErrorReply("badResumptionToken", "The resumption token is not one this repository issued.");
    }
    if (token->tag != repository.state.tag) {
      return ErrorReply("badResumptionToken",
                        "The catalogue has changed since this list began; start the list again without a token.");
    }
    list = *token;
    if (!catalogue.BookFrom(list.record)) {
      return ErrorReply("badResumptionToken", "The resumption token names no record of the catalogue.");
    }
    return std::nullopt;
  }
  list.tag = repository.state.tag;
  list.prefix = request.prefix;
  list.set = request.set;
  if (request.from) list.from = request.from->first;
  if (request.until) list.until = request.until->last;
  if (!InRange(repository.state.changed, list.from, list.until)) {
    std::string message = "Every record's datestamp is ";
    message.append(UtcDatestamp(repository.state.changed)).append(", outside the from and until asked for.");
    return ErrorReply("noRecordsMatch", message);
  }
  catalogue.WordSearch(WordCriteria{});
  const AnswerOutline outline = catalogue.Outline(AnswerOrder::kReading, {});
  list.size = list.set < 0 ? outline.count : outline.classes[static_cast<size_t>(list.set)];
  if (list.size == 0 || !catalogue.BookFrom(0)) return ErrorReply("noRecordsMatch", "No book is in the set asked for.");
  return std::nullopt;
}

}  // namespace

Reply ErrorReply(std::string_view code, std::string_view message) {
  return Reply{std::string(code), std::string(message), std::string()};
}

Reply GetRecordReply(const Repository& repository, std::string_view identifier, std::string_view prefix) {
  if (prefix != kDcPrefix) return ErrorReply("cannotDisseminateFormat", "The only metadata format is oai_dc.");
  const std::optional<int32_t> number = NumberOfIdentifier(identifier, repository.identifier);
  CatalogueDatasets opened;
  opened.Open();
  if (!number || !opened.catalogue.FindBook(*number)) {
    return ErrorReply("idDoesNotExist", "No book of the catalogue has this identifier.");
  }
  Reply reply;
  reply.xml = "<GetRecord>";
  reply.xml.append(RecordXml(repository, CurrentItem(opened.catalogue))).append("</GetRecord>");
  return reply;
}

Reply ListReply(const Repository& repository, const ListRequest& request, bool records) {
  CatalogueDatasets opened;
  opened.Open();
  CatalogueService& catalogue = opened.catalogue;
  ListToken list;
  if (std::optional<Reply> refused = StartOfList(repository, request, catalogue, list)) return *refused;
  // The datestamp is the same for every record; a token's range was met when it was issued,
  // and its tag says the records are still those.
  const std::string_view verb = records ? "ListRecords" : "ListIdentifiers";
  Reply reply;
  reply.xml.append("<").append(verb).append(">\n");
  int listed = 0;
  std::optional<int64_t> next;
  const std::string_view class_field = BookFieldName(BookField::kClassCode);
  // BookFrom (in StartOfList) made the list's first book, or the token's, the current one.
  for (bool more = true; more; more = catalogue.NextBook()) {
    if (list.set >= 0 && ClassDigit(catalogue.BookText(class_field)) != list.set) continue;
    const BookRecord book = CurrentItem(catalogue);
    if (book.number <= 0) continue;  // no registration number: no identifier
    if (listed == kHarvestPageSize) {
      next = catalogue.BookPosition();
      break;
    }
    reply.xml.append(records ? RecordXml(repository, book) : HeaderXml(repository, book).append("\n"));
    ++listed;
  }
  if (listed == 0) return ErrorReply("noRecordsMatch", "No book is in the set asked for.");
  const bool resumed = request.token.has_value();
  if (next || resumed) {
    reply.xml.append("<resumptionToken completeListSize=\"").append(Number(list.size)).append("\" cursor=\"");
    reply.xml.append(Number(list.cursor)).append("\">");
    if (next) {
      ListToken following = list;
      following.record = *next;
      following.cursor = list.cursor + listed;
      reply.xml.append(TokenText(following));
    }
    reply.xml.append("</resumptionToken>\n");
  }
  reply.xml.append("</").append(verb).append(">");
  return reply;
}

Reply MetadataFormatsReply(const Repository& repository, const std::optional<std::string>& identifier) {
  if (identifier) {
    const std::optional<int32_t> number = NumberOfIdentifier(*identifier, repository.identifier);
    CatalogueDatasets opened;
    opened.Open();
    if (!number || !opened.catalogue.FindBook(*number)) {
      return ErrorReply("idDoesNotExist", "No book of the catalogue has this identifier.");
    }
    if (CurrentItem(opened.catalogue).withdrawn) {
      return ErrorReply("noMetadataFormats", "The book is withdrawn: its records are deleted in every format.");
    }
  }
  Reply reply;
  reply.xml = "<ListMetadataFormats><metadataFormat>";
  AppendElement(reply.xml, "metadataPrefix", kDcPrefix);
  AppendElement(reply.xml, "schema", kDcSchema);
  AppendElement(reply.xml, "metadataNamespace", kDcNamespace);
  reply.xml.append("</metadataFormat></ListMetadataFormats>");
  return reply;
}

}  // namespace shelfra::opac
