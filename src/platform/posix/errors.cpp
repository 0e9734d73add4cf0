// Last-error codes and their texts.
