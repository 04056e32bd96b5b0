#include "site/oidc/JsonAnswer.h"

namespace {

constexpr char kJsonType[] = "application/json;charset=UTF-8";

} // namespace

JsonAnswer PrivateAnswer(int status, std::string body)
{
    return {
        status, {{"Content-Type", kJsonType}, {"Cache-Control", "no-store"}, {"Pragma", "no-cache"}}, std::move(body)};
}

JsonAnswer PublicAnswer(std::string body)
{
    return {200, {{"Content-Type", kJsonType}, {"Cache-Control", "no-cache"}}, std::move(body)};
}
