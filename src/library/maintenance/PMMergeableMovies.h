// Whether movies can be merged into one: a sequence of files, or duplicate references of
// a movie that came back. The answer is what merging would work on (nil: nothing to
// merge); ordering a sequence by name (as merging does) can be left out when only its
// existence matters, as for the menu's availability.
#pragma once

#include "platform/Value.h"

platform::ArrayPtr PMMergeableMovieRepresentations(const platform::ArrayPtr& items, bool sortSequence);
