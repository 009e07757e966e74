#pragma once

// What foundation/unique_handle.h frees COM strings with. Declared only: no target is handed any.
using BSTR = wchar_t*;
void SysFreeString(BSTR text);
