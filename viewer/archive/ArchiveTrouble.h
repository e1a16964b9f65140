// Why an archive, or an item of one, cannot be read: for telling the user.
#pragma once

enum class ArchiveTrouble {
  None,               // it reads (or it is none of the archive layer's)
  NotArchive,         // no route knows the file
  Damaged,            // a known kind of archive that does not open, or an item that does not extract whole
  NeedsPassword,      // its list or the item is encrypted
  UnsupportedMethod,  // the item is compressed in a way no route here decodes
  TooLarge,           // decoding the item would cost far more memory or time than a page may
};
