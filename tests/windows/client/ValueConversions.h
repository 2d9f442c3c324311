#pragma once

// Checks, against the platform's own VARIANT functions, the conversions the server uses for the values it
// hands to callers and takes from them.

void CheckValueConversions(void (*check)(bool passed, const char* what));
