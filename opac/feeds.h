// The Atom feeds of the UTF-8 front, with the OpenSearch response elements, and the new
// arrivals' page. Addresses after the script name:
//   /search.atom?...  a page of a result list as a feed (the parameters of /search: ReadSearch)
//   /new              the newest books by registration date, a page in the frame (page, per)
//   /new.atom         the same as a feed
// A feed's entries are the books of PageOfAnswer's page, in its order, as the HTML list shows
// them; a refused search or paging is answered 400 with the HTML list's text.
#pragma once

#include <string>
#include <string_view>

#include "opac/front.h"
#include "opac/request.h"
#include "opac/search_query.h"

namespace shelfra::opac {

// /search.atom (application/atom+xml): the feed's title, id (the address of its first page),
// updated (the catalogue's modification time), author (the library), the links self,
// alternate (the HTML list), first, previous, next, last and search (the OpenSearch
// description), and opensearch:totalResults, startIndex (from 1), itemsPerPage and Query; then
// an entry per book: id and link (the book page's absolute address), title, author, updated
// (the registration date at midnight JST, else the catalogue's modification time) and a
// summary of author, publisher, year, call number and state (StateText). Raises what the
// catalogue layer raises.
Answer SearchFeed(const Request& request);

// /new: NewArrivalsList in the frame, linking its feed.
Answer NewArrivals(const Request& request);
// /new.atom: the feed of /new, as SearchFeed writes one.
Answer NewArrivalsFeed(const Request& request);

// The <link rel="alternate" type="application/atom+xml"> of the feed of the list `search`
// asks for (Requires: not refused), for the list's head.
std::string SearchFeedLink(const Request& request, const SearchQuery& search);
// The same of the new arrivals at `paging`, for the search page's head and /new's.
std::string NewArrivalsFeedLink(std::string_view script_name, const Paging& paging);
// A paragraph with a link to /new, for the search page.
std::string NewArrivalsLink(std::string_view script_name);

}  // namespace shelfra::opac
