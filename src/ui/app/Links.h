#pragma once
// The product's addresses, in one place: the help menu, the close question and
// the About box open them.
namespace ondrel::ui::links {

inline constexpr const char* kHomePage = "https://ondrel.org/";
inline constexpr const char* kHelpPage = "https://ondrel.org/help/";
inline constexpr const char* kCompanySite = "https://ondrel.org/company/";
inline constexpr const char* kSupportMail = "mailto:support@ondrel.org";
inline constexpr const char* kSalesMail = "mailto:sales@ondrel.org";

}  // namespace ondrel::ui::links
