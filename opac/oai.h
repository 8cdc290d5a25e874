// The harvesting interface: an OAI-PMH 2.0 repository at /oai of the UTF-8 front, whose items
// are the catalogue's books ("oai:<repository>:<registration number>"), in oai_dc, with the
// ten classes as sets. docs/harvesting.md describes it for operators and harvesters.
#pragma once

#include "opac/front.h"
#include "opac/request.h"

namespace shelfra::opac {

// The answer to a GET, HEAD or POST (a form, application/x-www-form-urlencoded) of /oai: always
// a 200 "text/xml; charset=UTF-8" OAI-PMH response, the verb's answer or the protocol's error
// (badVerb, badArgument, badResumptionToken, cannotDisseminateFormat, idDoesNotExist,
// noRecordsMatch, noMetadataFormats, noSetHierarchy). The request element carries the
// arguments unless the error is badVerb or badArgument. Raises what the catalogue layer raises
// when the catalogue cannot be read. Requires: the method is GET, HEAD or POST.
Answer Harvest(const Request& request);

// The badArgument response to a request of /oai whose query string cannot be read (ParseQuery
// refused it). Reads nothing of the catalogue.
Answer HarvestBadArgument(const Request& request);

}  // namespace shelfra::opac
