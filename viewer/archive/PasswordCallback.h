#pragma once

#include <utility>

#include "viewer/archive/Passwords.h"
#include "viewer/archive/SevenZip.h"
#include "viewer/archive/SevenZipModule.h"

// A callback of the library's that answers its password question with the
// password it was made with. Without one it does not take the question at
// all, as callbacks here did before archives could be unlocked. The answer
// is a face of its own sharing the callback's count, so that the callback
// still has one IUnknown.
template <class I, class... Bases>
class CPasswordCallback : public CUnknownImpl<I, Bases...> {
  using Base = CUnknownImpl<I, Bases...>;

 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && m_password != nullptr && riid == ICryptoGetTextPassword::iid) {
      *out = &m_answer;
      Base::AddRef();
      return S_OK;
    }
    return Base::QueryInterface(riid, out);
  }

 protected:
  explicit CPasswordCallback(ArchivePassword password) : m_password(std::move(password)) {}
  const ArchivePassword m_password;

 private:
  struct Answer final : ICryptoGetTextPassword {
    explicit Answer(CPasswordCallback& owner) : owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** out) override { return owner.QueryInterface(riid, out); }
    ULONG AddRef() override { return owner.AddRef(); }
    ULONG Release() override { return owner.Release(); }
    HRESULT CryptoGetTextPassword(BSTR* password) override { return AnswerPassword(owner.m_password.get(), password); }
    CPasswordCallback& owner;
  };
  Answer m_answer{*this};
};
