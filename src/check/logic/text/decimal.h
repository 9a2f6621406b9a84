// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DECIMAL_H
#define KESTRILAVON_DECIMAL_H

#include <string>

// A number as every form prints it: a decimal point in any locale, no exponent, six places.
std::string decimal(double value);

#endif
