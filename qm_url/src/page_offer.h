// A page offered to the caller before the crawl reads it: the caller may put another text in
// its place and give the bodies of the items it already has.
#pragma once

#include "fetch_ahead.h"
#include "save_context.h"

namespace qm {

// Offers `page`, fetched whole, to the context's page offer; what the caller answers goes
// into `page` (its text and the address it was found at) and into the context's given items.
void OfferPage(SaveContext& context, FetchedBody* page);

}  // namespace qm
