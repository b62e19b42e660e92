#include "res/embedded.h"

extern "C" const unsigned char* const ostrel_embedded_config;
extern "C" const std::size_t ostrel_embedded_config_size;
extern "C" const unsigned char* const ostrel_embedded_skin;
extern "C" const std::size_t ostrel_embedded_skin_size;

EmbeddedBytes EmbeddedConfig() {
    return {ostrel_embedded_config, ostrel_embedded_config_size};
}

EmbeddedBytes EmbeddedSkin() {
    return {ostrel_embedded_skin, ostrel_embedded_skin_size};
}
