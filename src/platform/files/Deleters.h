#pragma once

#include <dirent.h>
#include <glib-object.h>
#include <glib.h>

namespace wren::platform {

// Deleters for std::unique_ptr over handles of C libraries, so that every way out of a
// function releases them (file descriptors have FileDescriptor.h).

struct DirClose {
  void operator()(DIR* dir) const { closedir(dir); }
};

struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};

struct GVariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};

struct GBytesUnref {
  void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};

struct GUriUnref {
  void operator()(GUri* uri) const { g_uri_unref(uri); }
};

}  // namespace wren::platform
