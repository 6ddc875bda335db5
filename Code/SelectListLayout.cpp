// PLACEHOLDER: candidate list layout arithmetic.
