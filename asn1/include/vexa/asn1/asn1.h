// The whole interface of the ASN.1 object library.
#pragma once

#include "vexa/asn1/asn1defs.h"
#include "vexa/asn1/asn1obj.h"
#include "vexa/asn1/gdo.h"
#include "vexa/asn1/gdoentries.h"
#include "vexa/asn1/pkcs.h"
