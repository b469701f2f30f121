// Docstring sections that several velk_morph methods share word for word. Each macro expands to
// string literals, so a docstring is still one literal made of raw strings and these pieces.
#pragma once

// The Returns section of a method that returns a float64 array of the given shape text.
#define VELK_DOC_RETURNS_FLOATS(shape) \
  "Returns\n-------\nnumpy.ndarray of float64, shape (" shape ")\n"

// The Raises section of a method whose array arguments are only checked for finite values and
// their shape.
#define VELK_DOC_RAISES_NOT_FINITE(names) \
  "Raises\n------\nValueError\n    If " names " is not a finite array of the stated shape.\n"

// The points argument of a derivative product, as given to the named evaluation method.
#define VELK_DOC_POINTS_AS_GIVEN_TO(method) \
  "points : array_like, shape (M, 3)\n    Points, as given to ``" method "``.\n"

// Returns and Raises of an evaluation on (M, 3) points with a progress argument.
#define VELK_DOC_POINTS_PROGRESS_RESULT           \
  VELK_DOC_RETURNS_FLOATS("M, 3")                 \
  "\n"                                            \
  "Raises\n------\n"                              \
  "ValueError\n"                                  \
  "    If points is not a finite (M, 3) array.\n" \
  "TypeError\n"                                   \
  "    If progress is of another kind.\n"         \
  "ImportError\n"                                 \
  "    If progress is True and tqdm is not installed.\n"

// The example lines that build the Ffd of a 2 x 2 x 2 cube with 2 intervals per axis.
#define VELK_DOC_EXAMPLE_FFD \
  ">>> ffd = velk_morph.Ffd(velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2]))\n"
