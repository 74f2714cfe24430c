// KvGAConsts: the vocabulary shared by every part of the library: numeric aliases, enumerations
// with their identifiers, sets, default constants, exception classes and message texts.
#pragma once

#include "kv/vocabulary/enum_names.h"
#include "kv/vocabulary/enum_set.h"
#include "kv/vocabulary/ga_exceptions.h"
#include "kv/vocabulary/ga_messages.h"
#include "kv/vocabulary/ga_types.h"
