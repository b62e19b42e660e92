#include "res/embedded.h"

extern "C" const unsigned char* ostrel_embedded_config_data();
extern "C" std::size_t ostrel_embedded_config_size();
extern "C" const unsigned char* ostrel_embedded_skin_data();
extern "C" std::size_t ostrel_embedded_skin_size();
extern "C" const unsigned char* ostrel_release_keys_data();
extern "C" std::size_t ostrel_release_keys_size();
extern "C" const char ostrel_embedded_config_name[];

EmbeddedBytes EmbeddedConfig() {
    return {ostrel_embedded_config_data(), ostrel_embedded_config_size()};
}

EmbeddedBytes EmbeddedSkin() {
    return {ostrel_embedded_skin_data(), ostrel_embedded_skin_size()};
}

EmbeddedBytes EmbeddedReleaseKeys() {
    return {ostrel_release_keys_data(), ostrel_release_keys_size()};
}

const char* EmbeddedConfigName() {
    return ostrel_embedded_config_name;
}
