#pragma once

// What foundation/unique_handle.h frees COM memory with. Declared only: no target is handed any.
void CoTaskMemFree(void* memory);
