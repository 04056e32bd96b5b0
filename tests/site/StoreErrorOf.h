#pragma once
// What a store said when an action failed, for the stores' tests.
#include "site/store/SiteStore.h"

#include <string>

template <typename Action>
std::string ErrorOf(Action action)
{
    try {
        action();
    } catch (const StoreError& error) {
        return error.what();
    }
    return "no error";
}
