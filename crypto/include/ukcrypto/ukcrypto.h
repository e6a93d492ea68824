// The software cryptography shared by the token library and the provider.
#pragma once
#include "ukcrypto/status.h"
#include "ukcrypto/hash.h"
#include "ukcrypto/des.h"
#include "ukcrypto/rc4.h"
#include "ukcrypto/rsa.h"
#include "ukcrypto/random.h"
