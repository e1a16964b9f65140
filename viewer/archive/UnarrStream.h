// unarr's input over one of our files. unarr 1.0 exports no way to make a
// stream of one's own, only streams over a path or a block of memory: an
// archive in memory whole would cost the viewer its memory bound, and a
// file here need not have a path. So the stream is laid out here as unarr's
// own functions read it, and that layout is checked once, by a round trip
// through those functions, before any archive goes through it.
#pragma once

#include <functional>

#include "ordel/FileSystem.h"

struct ar_stream_s;

// Whether streams made here are read as they are meant to be.
bool UnarrStreamsWork();

// A stream over `file` from its first byte; its reads fail once `stopping`
// says so. Null when streams do not work here or memory runs out. Closed
// (and freed) with ar_close; `file` must outlive it.
ar_stream_s* OpenUnarrStream(IFile* file, std::function<bool()> stopping);
