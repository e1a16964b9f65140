// unarr reading a solid RAR 4 in one pass, for the solid reader: libarchive
// refuses every entry of one after the first, and 7-Zip's library here has
// no RAR codec. unarr decodes each entry from the state the ones before it
// left, so every entry from the archive's start is decoded in turn, the
// ones no page wants into a scratch buffer. Silent, like the other passes:
// the pages opened later print its reasons.
#pragma once

#include <cstdint>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/archive/Rar4Headers.h"
#include "viewer/archive/SolidReader.h"

// Runs on the pass's thread. `headers`: the archive's file headers, by
// archive index (unarr's entries are matched to them by where they begin).
// A set of volumes is read joined as one archive (Rar4Join); `missing`: a
// volume of it is not there, so what goes on past the joined file fails,
// and says so.
void RunUnarrPass(IFile* file, const std::vector<Rar4Entry>& headers, bool missing, const ClaimedSizes& claimed,
                  uint32_t first, SolidReader::Pass& pass);
