#pragma once

#include <QLatin1StringView>

// Names shared with the main application and the service. Changing any of them breaks the
// contract in docs/main-app-contract.md.
namespace AppIdentifiers {

inline constexpr QLatin1StringView prefix{"app.zelt"};
inline constexpr QLatin1StringView extensionIdentifier{"app.zelt.ZeltShareExtension"};
inline constexpr QLatin1StringView mainApplicationIdentifier{"app.zelt.Zelt"};

inline constexpr QLatin1StringView productionOrigin{"https://zelt.app"};
inline constexpr QLatin1StringView allowedHostSuffixes[] = {QLatin1StringView{".zelt.app"},
                                                            QLatin1StringView{".zelt.team"}};

inline constexpr QLatin1StringView keychainAccount{"tovi-share"};
inline constexpr QLatin1StringView keychainService{"app.zelt.native-share-session"};

// The shared-state notification. D-Bus member names cannot hold '-' or '.', so the
// notification "app.zelt.native-shared-state-changed" travels as this signal.
inline constexpr QLatin1StringView sharedStateChangedName{"app.zelt.native-shared-state-changed"};
inline constexpr QLatin1StringView sharedStateObjectPath{"/app/zelt/NativeSharedState"};
inline constexpr QLatin1StringView sharedStateInterface{"app.zelt.NativeSharedState"};
inline constexpr QLatin1StringView sharedStateSignal{"Changed"};

inline constexpr QLatin1StringView adoptedBaseOriginKey{"ZeltAdoptedBaseOrigin"};
inline constexpr QLatin1StringView passkeyRequestedAtKey{"ZeltNativeSharedPasskeyRequestedAt"};

} // namespace AppIdentifiers
