#pragma once
// The fixed application credentials that every client sends when it opens a session, and that the
// server's authentication event accepts. Plain text constants, so that the client library needs
// nothing else to send them.

namespace krp::types {

inline constexpr const char* PALVELIMEN_KAYTTAJATUNNUS = "k7Roval2Pinsu_Meh8dorwa4Ly-b9x";
inline constexpr const char* PALVELIMEN_SALASANA = "Qz4%mUr8*Kelo!v2Bin9Xo+Ta#Wek3";

}  // namespace krp::types
