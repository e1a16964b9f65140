// How an opened archive stands with encryption, given the password it was
// opened with (if any). The password is tried on the encrypted item that
// is cheapest to decode, so that a wrong one is known before any page shows.
#pragma once

enum class ArchiveLock {
  None,           // nothing in it is encrypted
  Locked,         // items are encrypted, and no password was given
  Unlocked,       // the password decrypts them
  WrongPassword,  // the password given does not
  CannotDecrypt,  // encrypted, but not in a way this route decrypts, or the trial failed for another reason
};
