! List-directed input: repeat counts, null values, slashes, quoted
! strings, commas and blanks as separators.
program list_input_forms
  implicit none
  integer :: a(6)
  real :: r
  character(len=8) :: s, t
  character(len=60) :: line
  a = -1
  line = '3*7, 2*, 5 /'
  read (line, *) a
  write (*, '(6i4)') a
  line = "  2.5  'it''s'  ""dq"" "
  read (line, *) r, s, t
  write (*, '(f6.2, 1x, a, "|", a, "|")') r, s, t
  line = '1 2'
  a = 0
  read (line, *) a(1), a(2)
  write (*, '(6i4)') a
end program list_input_forms
