! List-directed writes to an internal file: processor-dependent layout.
! processor-dependent: line 1, line 2
program internal_list_write
  implicit none
  character(len=30) :: s
  character(len=20) :: recs(2)
  write (s, *) 7, .true.
  write (*, '("[", a, "]")') s
  write (s, *) 'ab', 'cd', 2.0
  write (*, '("[", a, "]")') s
  recs = 'x'
  write (recs, '(a)') 'p', 'q'
  write (*, '(a, "|", a)') trim(recs(1)), trim(recs(2))
end program internal_list_write
