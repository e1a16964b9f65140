#include "viewer/archive/FileHead.h"

uint32_t ReadHead(IFile* file, BYTE* head, uint32_t size) {
  uint32_t got = 0;
  file->Seek(0, 0, nullptr);
  file->Read(head, size, &got);
  file->Seek(0, 0, nullptr);
  return got;
}
