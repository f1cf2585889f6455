#pragma once
// 32-bit status codes of the component boundary. Values are the platform's
// well-known ones so that clients can test them by number.
#include <cstdint>

using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111u);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150u);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHResult(0x80040151u);
inline constexpr HRESULT REGDB_E_KEYMISSING = MakeHResult(0x80040152u);
inline constexpr HRESULT REGDB_E_INVALIDVALUE = MakeHResult(0x80040153u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9u);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006u);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000Eu);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHResult(0x8002802Bu);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHResult(0x8002801Du);

inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHResult(0x80030002u);
inline constexpr HRESULT STG_E_PATHNOTFOUND = MakeHResult(0x80030003u);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHResult(0x80030005u);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHResult(0x8003001Du);
inline constexpr HRESULT STG_E_READFAULT = MakeHResult(0x8003001Eu);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeHResult(0x80030050u);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = MakeHResult(0x80030109u);

// Dispatch, activation and type-library codes used by the component layer.
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007u);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3u);
inline constexpr HRESULT TYPE_E_INVALIDSTATE = MakeHResult(0x80028029u);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHResult(0x80029C4Au);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeHResult(0x80040200u);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201u);
